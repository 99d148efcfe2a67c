#pragma once
// A WindowPort that keeps component properties in memory, seeded from the
// window template, and records every call in order.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/window_port.h"
#include "ui/window_template.h"

namespace ui::testing {

class RecordingPort : public WindowPort {
 public:
  struct Props {
    rt::Text caption, tag;
    int32_t left = 0, top = 0, width = 0, interval = 0;
    bool disabled = false;
  };

  RecordingPort() {
    for (std::size_t i = 0; i < kUpdaterComponentCount; ++i) {
      const ComponentRow& row = kUpdaterComponents[i];
      Props& p = props[row.name];
      p.caption = row.text;
      p.left = row.left;
      p.top = row.top;
      p.width = row.width;
      p.disabled = row.disabled;
      p.interval = row.timer_interval_ms;
    }
  }

  void SetCaption(const rt::Text& c, const rt::Text& v) override { Log("SetCaption", c, v); props[c].caption = v; }
  rt::Text Caption(const rt::Text& c) override { return props[c].caption; }
  void SetLeft(const rt::Text& c, int32_t v) override { Log("SetLeft", c, std::to_string(v)); props[c].left = v; }
  void SetTop(const rt::Text& c, int32_t v) override { Log("SetTop", c, std::to_string(v)); props[c].top = v; }
  void SetWidth(const rt::Text& c, int32_t v) override { Log("SetWidth", c, std::to_string(v)); props[c].width = v; }
  int32_t Left(const rt::Text& c) override { return props[c].left; }
  int32_t Top(const rt::Text& c) override { return props[c].top; }
  int32_t Width(const rt::Text& c) override { return props[c].width; }
  void SetDisabled(const rt::Text& c, bool v) override { Log("SetDisabled", c, v ? "1" : "0"); props[c].disabled = v; }
  bool Disabled(const rt::Text& c) override { return props[c].disabled; }
  void SetTimerInterval(const rt::Text& c, int32_t v) override {
    Log("SetTimerInterval", c, std::to_string(v));
    props[c].interval = v;
  }
  int32_t TimerInterval(const rt::Text& c) override { return props[c].interval; }
  void TickNow(const rt::Text& c) override {
    Log("TickNow", c);
    if (props[c].interval > 0 && on_tick) on_tick();
  }
  void SetTag(const rt::Text& c, const rt::Text& v) override { Log("SetTag", c, v); props[c].tag = v; }
  rt::Text Tag(const rt::Text& c) override { return props[c].tag; }
  void EnableVisualStyles() override { Log("EnableVisualStyles", ""); }
  void Minimize() override { Log("Minimize", ""); }
  void BeginDrag() override { Log("BeginDrag", ""); }
  void Close() override {
    Log("Close", "");
    ++closes;
  }

  std::map<rt::Text, Props> props;
  std::function<void()> on_tick;  // what TickNow runs, when set
  std::vector<std::string> calls;    // "Operation component"
  std::vector<std::string> changes;  // "Operation component=value", setters only
  int closes = 0;

 private:
  void Log(const char* op, const rt::Text& component) {
    calls.push_back(component.empty() ? std::string(op) : std::string(op) + " " + component);
  }
  void Log(const char* op, const rt::Text& component, const std::string& value) {
    Log(op, component);
    changes.push_back(std::string(op) + " " + component + "=" + value);
  }
};

}  // namespace ui::testing
