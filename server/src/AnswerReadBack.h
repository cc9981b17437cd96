#pragma once
// Checks a start answer against the installer's own JSON reader: every
// value the config puts into an answer must read back exactly as written,
// or one odd string (a path ending in a backslash, a control character)
// silently costs every installer the whole answer.
#include <string>

#include <nlohmann/json.hpp>

// entry is one config entry (its idState, initxml, tail and campaigns),
// name its label in messages, answerBody the answer built from it. Empty
// when the installer reads everything back; otherwise a message naming the
// first member it cannot read.
std::string answerReadBackProblem(const std::string& name, const nlohmann::json& entry, const std::string& answerBody);
