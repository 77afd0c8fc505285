#pragma once

// A platform that records every call made on it, in order, with its
// arguments, and answers as the test sets it up. Web views (the sheet's
// included) are numbered from 1 in the order they are made.

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

class RecordingPlatform : public SaverPlatform {
 public:
  // Answers.
  bool initResult = true;
  bool nibResult = true;
  bool webViewsCreated = true;
  std::string resources;
  std::string temporary;

  // What happened.
  std::vector<std::string> calls;
  std::map<int, std::vector<std::string>> pages;  // by web view number
  double interval = 0;
  SheetOwner* sheetOwner = nullptr;

  void Note(const std::string& call) { calls.push_back(call); }

  bool initSaverView(const Rect& frame, bool isPreview) override {
    Note("initSaverView " + Describe(frame) + (isPreview ? " preview" : " full"));
    return initResult;
  }
  void startAnimation() override { Note("startAnimation"); }
  void stopAnimation() override { Note("stopAnimation"); }
  void setAnimationTimeInterval(double seconds) override {
    interval = seconds;
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
    Note("createWebView " + Describe(frame));
    if (!webViewsCreated) return nullptr;
    return std::make_unique<RecordedWebView>(++m_webViews);
  }
  void addSubview(WebView& webView) override { Note("addSubview " + Number(webView)); }
  void loadHTMLString(WebView& webView, const std::string& html) override {
    pages[static_cast<RecordedWebView&>(webView).number].push_back(html);
    Note("loadHTMLString " + Number(webView));
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
    Note("endSheet " + Number(static_cast<RecordedSheet&>(sheet).webView));
  }
  void fillRect(const Rect& rect, const Color& color) override {
    Note("fillRect " + Describe(rect) + " " +
         (color == Color::redColor()     ? "red"
          : color == Color::blackColor() ? "black"
                                         : "other"));
  }

  static std::string Number(WebView& webView) {
    return std::to_string(static_cast<RecordedWebView&>(webView).number);
  }
  static std::string Describe(const Rect& r) {
    std::ostringstream out;
    out << r.x << "," << r.y << "," << r.width << "," << r.height;
    return out.str();
  }

 private:
  int m_webViews = 0;
};
