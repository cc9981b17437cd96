#pragma once
// The parsed command line: (option, value) pairs in command-line order.
// Option names compare exactly and case-sensitively.
#include <optional>
#include <string>
#include <utility>
#include <vector>

class OptionTable {
 public:
  // Pairs the tokens: a token not starting with "/" that follows an option is
  // its value; any other token is an option of its own. A first token equal
  // to shortModulePath (exactly) is the program itself and is skipped.
  static OptionTable fromTokens(const std::vector<std::wstring>& tokens,
                                const std::wstring& shortModulePath);

  bool hasOption(const std::wstring& option) const;
  // The option's value; nothing when the option is missing or has no value.
  std::optional<std::wstring> optionValue(const std::wstring& option) const;

  // "opt value opt2 " - every option and value followed by one blank.
  std::wstring joined() const;
  // Every option and value in order, as the splitter gave them.
  std::vector<std::wstring> tokens() const;
  const std::vector<std::pair<std::wstring, std::optional<std::wstring>>>& entries() const {
    return entries_;
  }

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> entries_;
};

// Splits a command line with the quoting rules of the Windows splitter
// (quotes group and are removed, backslashes before quotes halve). The
// Windows build uses the system's own splitter; this one serves elsewhere.
std::vector<std::wstring> splitCommandLinePortable(const std::wstring& commandLine);

// One argument quoted so that the Windows splitter gives it back as it
// stands: blanks, quotes, trailing backslashes and empty texts included.
std::wstring quoteArgument(const std::wstring& argument);
// The arguments quoted and joined by one blank.
std::wstring joinArguments(const std::vector<std::wstring>& arguments);

// The raw command line is copied into a buffer of this many characters
// (terminator included) before splitting.
constexpr size_t kCommandLineBuffer = 16384;
