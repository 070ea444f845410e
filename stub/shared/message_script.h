// Host-side ShowMessage: records every box and answers from a script, so
// tests (and the command-line tools) can drive prompts without a screen.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zevrin {

struct ShownMessage {
    std::string caption;
    std::string text;
    unsigned type;
};

// Answers given to the next boxes, in order. Once the script runs out a box
// is answered as a user who gives up would: Cancel, or Yes to "give up?".
void ScriptMessageAnswers(std::vector<int> answers);
// Every box shown since the last ScriptMessageAnswers or ClearShownMessages.
const std::vector<ShownMessage>& ShownMessages();
void ClearShownMessages();
// Called for each box before the script is consulted; a non-zero return is
// the answer (a test can change files while "the user" looks at a prompt).
void SetMessageHook(std::function<int(const ShownMessage&)> hook);
// When set, each box is also printed to standard error (for the CLI).
void EchoShownMessages(bool on);

} // namespace zevrin
