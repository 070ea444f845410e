// ShowMessage for host builds: see message_script.h.
#include <cstdio>
#include <deque>

#include "messages.h"
#include "message_script.h"
#include "platform.h"

namespace zevrin {

namespace {
std::deque<int> Answers;
std::vector<ShownMessage> Shown;
bool Echo;
std::function<int(const ShownMessage&)> Hook;
} // namespace

void ScriptMessageAnswers(std::vector<int> answers)
{
    Answers.assign(answers.begin(), answers.end());
    Shown.clear();
}

const std::vector<ShownMessage>& ShownMessages() { return Shown; }
void ClearShownMessages() { Shown.clear(); }
void EchoShownMessages(bool on) { Echo = on; }
void SetMessageHook(std::function<int(const ShownMessage&)> hook) { Hook = std::move(hook); }

int ShowMessage(const char* text, unsigned type)
{
    Shown.push_back({GetMessageText(GroupMessages, MsgTitle), text ? text : "", type});
    if (Echo)
        std::fprintf(stderr, "%s\n", text ? text : "");
    if (Hook) {
        if (int answer = Hook(Shown.back()))
            return answer;
    }
    if (!Answers.empty()) {
        int answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    switch (type & 0xF) {
    case 1: return AnswerCancel; // OK/Cancel
    case 4: return AnswerYes;    // Yes/No: the give-up question
    default: return AnswerOk;
    }
}

} // namespace zevrin
