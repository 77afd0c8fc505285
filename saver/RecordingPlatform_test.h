#pragma once

// A platform that records every call made on it, in order, with its
// arguments, and answers as the test sets it up.

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "saver/SaverPlatform.h"

class RecordedWebView : public WebView {
 public:
  explicit RecordedWebView(int number) : number(number) {}
  int number;
};

class RecordedSheet : public SheetWindow {
 public:
  explicit RecordedSheet(int webViewNumber) : webView(webViewNumber) {}
  RecordedWebView webView;
};

inline std::string Describe(const Rect& r) {
  std::ostringstream out;
  out << r.x << "," << r.y << "," << r.width << "," << r.height;
  return out.str();
}

class RecordingPlatform : public SaverPlatform {
 public:
  // Answers.
  bool initResult = true;
  bool nibResult = true;
  bool webViewsCreated = true;
  std::string resources;
  std::string temporary = "/tmp";

  // What happened.
  std::vector<std::string> calls;
  std::map<int, std::vector<std::string>> pages;  // by web view number
  std::vector<double> intervals;
  SheetOwner* sheetOwner = nullptr;

  void Note(const std::string& call) { calls.push_back(call); }

  bool initSaverView(const Rect& frame, bool isPreview) override {
    Note("initSaverView " + Describe(frame) + (isPreview ? " preview" : " full"));
    return initResult;
  }
  void startAnimation() override { Note("startAnimation"); }
  void stopAnimation() override { Note("stopAnimation"); }
  void setAnimationTimeInterval(double seconds) override {
    intervals.push_back(seconds);
    Note("setAnimationTimeInterval");
  }
  std::string resourcePath() override {
    Note("resourcePath");
    return resources;
  }
  std::string temporaryDirectory() override {
    Note("temporaryDirectory");
    return temporary;
  }
  std::unique_ptr<WebView> createWebView(const Rect& frame) override {
    if (!webViewsCreated) {
      Note("createWebView " + Describe(frame) + " -> none");
      return nullptr;
    }
    const int number = ++m_webViews;
    Note("createWebView " + Describe(frame) + " -> " + std::to_string(number));
    return std::make_unique<RecordedWebView>(number);
  }
  void addSubview(WebView& webView) override {
    Note("addSubview " + std::to_string(Number(webView)));
  }
  void loadHTMLString(WebView& webView, const std::string& html) override {
    const int number = Number(webView);
    pages[number].push_back(html);
    Note("loadHTMLString " + std::to_string(number));
  }
  bool loadNibNamed(const std::string& name, SheetOwner& owner, SheetOutlets& outlets) override {
    Note("loadNibNamed " + name);
    if (!nibResult) return false;
    sheetOwner = &owner;
    auto sheet = std::make_unique<RecordedSheet>(++m_webViews);
    outlets.configWebView = &sheet->webView;
    outlets.configSheet = std::move(sheet);
    return true;
  }
  void endSheet(SheetWindow& sheet) override {
    Note("endSheet " + std::to_string(static_cast<RecordedSheet&>(sheet).webView.number));
  }
  void fillRect(const Rect& rect, const Color& color) override {
    Note("fillRect " + Describe(rect) + " " +
         (color == Color::redColor() ? "red" : color == Color::blackColor() ? "black" : "other"));
  }

  static int Number(WebView& webView) { return static_cast<RecordedWebView&>(webView).number; }

 private:
  int m_webViews = 0;
};
