// A dialog window for tests: records every call and answers from a table.
//
// Message boxes take their answers from a queue, in order; a box with no
// answer left is a test failure (and takes its safe answer). The dialog's
// messages come from another queue; when it runs dry the window reports
// that no message will come (the dialog then ends as if closed).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialog.h"

namespace apptest {

struct WindowCall {
    enum Kind { kCreate, kSetText, kShowItem, kIcon, kBox, kShow, kNext, kDestroy };
    WindowCall(Kind k, int i = 0, std::string t = {}, std::string c = {}, uint32_t s = 0)
        : kind(k), id(i), text(std::move(t)), caption(std::move(c)), style(s) {}
    Kind kind;
    int id = 0;           // control id, icon id, focus, or modal result
    std::string text;     // item text or box text
    std::string caption;  // box caption
    uint32_t style = 0;   // box style
    int answer = 0;       // box answer
    bool flag = false;    // ShowItem: shown; SetIcon: big
};

class FakeWindow : public platform::DialogWindow {
public:
    void Create(const platform::DialogTemplate& tmpl) override {
        created = tmpl;
        calls.push_back({WindowCall::kCreate, tmpl.id});
    }
    void SetItemText(int id, const std::string& text) override {
        calls.push_back({WindowCall::kSetText, id, text});
    }
    void ShowItem(int id, bool show) override {
        WindowCall c{WindowCall::kShowItem, id};
        c.flag = show;
        calls.push_back(c);
    }
    void SetIcon(int resourceId, bool big) override {
        WindowCall c{WindowCall::kIcon, resourceId};
        c.flag = big;
        calls.push_back(c);
    }
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       uint32_t style) override {
        WindowCall c{WindowCall::kBox, 0, text, caption, style};
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected message box: [" << caption << "] " << text;
            c.answer = platform::SafeAnswer(style);
        } else {
            c.answer = answers.front();
            answers.pop_front();
        }
        calls.push_back(c);
        if (onBox) onBox(calls.back());
        return c.answer;
    }
    void Show(int focusId) override { calls.push_back({WindowCall::kShow, focusId}); }
    bool NextMessage(platform::DialogMessage* msg) override {
        calls.push_back({WindowCall::kNext});
        if (onNext) onNext();
        if (messages.empty()) return false;
        *msg = messages.front();
        messages.pop_front();
        return true;
    }
    void Destroy(int result) override { calls.push_back({WindowCall::kDestroy, result}); }

    // The message boxes shown, in order.
    std::vector<WindowCall> Boxes() const {
        std::vector<WindowCall> out;
        for (const WindowCall& c : calls)
            if (c.kind == WindowCall::kBox) out.push_back(c);
        return out;
    }
    bool Shown() const {
        for (const WindowCall& c : calls)
            if (c.kind == WindowCall::kShow) return true;
        return false;
    }
    // The last text set for control id ("" when none).
    std::string LastText(int id) const {
        std::string text;
        for (const WindowCall& c : calls)
            if (c.kind == WindowCall::kSetText && c.id == id) text = c.text;
        return text;
    }

    std::deque<int> answers;
    std::deque<platform::DialogMessage> messages;
    std::vector<WindowCall> calls;
    platform::DialogTemplate created;
    std::function<void(const WindowCall&)> onBox;
    std::function<void()> onNext;  // each time the dialog waits for a message
};

}  // namespace apptest
