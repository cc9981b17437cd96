#include "app/OptionTable.h"

OptionTable OptionTable::fromTokens(const std::vector<std::wstring>& tokens,
                                    const std::wstring& shortModulePath) {
  OptionTable table;
  size_t i = 0;
  if (!tokens.empty() && tokens[0] == shortModulePath) i = 1;
  for (; i < tokens.size(); ++i) {
    std::optional<std::wstring> value;
    if (i + 1 < tokens.size() && (tokens[i + 1].empty() || tokens[i + 1][0] != L'/')) {
      value = tokens[i + 1];
    }
    table.entries_.emplace_back(tokens[i], value);
    if (value) ++i;
  }
  return table;
}

bool OptionTable::hasOption(const std::wstring& option) const {
  for (const auto& e : entries_)
    if (e.first == option) return true;
  return false;
}

std::optional<std::wstring> OptionTable::optionValue(const std::wstring& option) const {
  for (const auto& e : entries_)
    if (e.first == option) return e.second;
  return std::nullopt;
}

std::wstring OptionTable::joined() const {
  std::wstring out;
  for (const auto& e : entries_) {
    out += e.first + L" ";
    if (e.second) out += *e.second + L" ";
  }
  return out;
}

std::vector<std::wstring> OptionTable::tokens() const {
  std::vector<std::wstring> out;
  for (const auto& e : entries_) {
    out.push_back(e.first);
    if (e.second) out.push_back(*e.second);
  }
  return out;
}

std::wstring quoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    // Backslashes count only before a quote: there they are doubled, and
    // the quote itself escaped.
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out.push_back(c);
  }
  out.append(slashes * 2, L'\\');  // before the closing quote
  return out + L"\"";
}

std::wstring joinArguments(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (const auto& a : arguments) {
    if (!line.empty()) line += L' ';
    line += quoteArgument(a);
  }
  return line;
}

std::vector<std::wstring> splitCommandLinePortable(const std::wstring& commandLine) {
  std::vector<std::wstring> tokens;
  const std::wstring line = commandLine.substr(0, kCommandLineBuffer - 1);
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    while (i < n && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= n) break;
    std::wstring token;
    bool inQuotes = false;
    while (i < n) {
      wchar_t c = line[i];
      if (!inQuotes && (c == L' ' || c == L'\t')) break;
      if (c == L'\\') {
        size_t slashes = 0;
        while (i < n && line[i] == L'\\') { ++slashes; ++i; }
        if (i < n && line[i] == L'"') {
          token.append(slashes / 2, L'\\');
          if (slashes % 2) { token.push_back(L'"'); ++i; }
        } else {
          token.append(slashes, L'\\');
        }
        continue;
      }
      if (c == L'"') {
        if (inQuotes && i + 1 < n && line[i + 1] == L'"') { token.push_back(L'"'); i += 2; continue; }
        inQuotes = !inQuotes;
        ++i;
        continue;
      }
      token.push_back(c);
      ++i;
    }
    tokens.push_back(token);
  }
  return tokens;
}
