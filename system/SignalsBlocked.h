// SignalsBlocked: every signal held back on this thread for one scope.
//
// Lists that a signal handler walks (temporary files to remove) are changed
// only inside such a scope, so a handler never sees one half changed.
#pragma once

#include <csignal>
#include <pthread.h>

class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &m_old);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t m_old;
};
