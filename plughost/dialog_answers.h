// Answers the dialogs and boxes of a run as its options say, and closes those nobody answers.
#pragma once

#include "command_line.h"
#include "dialog_driver.h"

// While it lives, every dialog and box that a call opens is answered as `options` say, each
// error box is reported, and a dialog left to the user is closed once it has waited
// options.waitMs, with Cancel where it has one.
class DialogAnswers {
  public:
    explicit DialogAnswers(const Options& options);
    ~DialogAnswers();
    DialogAnswers(const DialogAnswers&) = delete;
    DialogAnswers& operator=(const DialogAnswers&) = delete;
    // Whether a dialog was closed because nobody answered it in time.
    bool WentUnanswered() const;
    // Whether the print-setup dialog lacked the printer of --choose (and was cancelled).
    bool ChoiceNotListed() const;

  private:
    hostside::DialogWatch watch_;
    UINT_PTR waitTimer_;
};
