#pragma once
// A WindowPort that records every property, for driving the flow without a
// window.
#include <map>
#include <string>
#include <vector>

#include "ui/window_port.h"

class RecordingWindow : public ui::WindowPort {
 public:
  void SetCaption(const rt::Text& c, const rt::Text& v) override {
    captions[c] = v;
    log.push_back("caption " + c + "=" + v);
  }
  rt::Text Caption(const rt::Text& c) override { return captions[c]; }
  void SetLeft(const rt::Text& c, int32_t v) override { left[c] = v; }
  void SetTop(const rt::Text& c, int32_t v) override { top[c] = v; }
  void SetWidth(const rt::Text& c, int32_t v) override { width[c] = v; }
  int32_t Left(const rt::Text& c) override { return left[c]; }
  int32_t Top(const rt::Text& c) override { return top[c]; }
  int32_t Width(const rt::Text& c) override { return width[c]; }
  void SetDisabled(const rt::Text& c, bool v) override {
    disabled[c] = v;
    log.push_back("disabled " + c + "=" + (v ? "1" : "0"));
  }
  bool Disabled(const rt::Text& c) override { return disabled[c]; }
  void SetTimerInterval(const rt::Text& c, int32_t v) override {
    timer[c] = v;
    log.push_back("timer " + c + "=" + std::to_string(v));
  }
  int32_t TimerInterval(const rt::Text& c) override { return timer[c]; }
  void SetTag(const rt::Text& c, const rt::Text& v) override { tags[c] = v; }
  rt::Text Tag(const rt::Text& c) override { return tags[c]; }
  void EnableVisualStyles() override {}
  void Minimize() override {}
  void BeginDrag() override {}
  void Close() override { ++closes; }

  std::map<rt::Text, rt::Text> captions, tags;
  std::map<rt::Text, int32_t> left, top, width, timer;
  std::map<rt::Text, bool> disabled;
  std::vector<std::string> log;
  int closes = 0;
};
