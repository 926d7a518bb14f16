#pragma once
// An operator who answers message boxes from a script and remembers what was asked.

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "control/operator_prompt.h"

namespace torvix::testing {

class ScriptedPrompt : public OperatorPrompt {
public:
    struct Question {
        QString text;
        QString title;
        bool retryCancel = false;
    };

    std::deque<Answer> answers;  // one per question; Cancel once the script runs out
    std::vector<Question> asked;
    std::function<void()> beforeAnswer;  // the operator's doing while the box is up

    Answer askOkCancel(const QString& text, const QString& title) override {
        return answer({text, title, false});
    }
    Answer askRetryCancel(const QString& text, const QString& title) override {
        return answer({text, title, true});
    }

private:
    Answer answer(Question question) {
        asked.push_back(std::move(question));
        if (beforeAnswer) beforeAnswer();
        if (answers.empty()) return Answer::Cancel;
        const Answer next = answers.front();
        answers.pop_front();
        return next;
    }
};

}  // namespace torvix::testing
