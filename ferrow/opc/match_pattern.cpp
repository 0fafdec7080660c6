#include "ferrow/opc/match_pattern.h"

namespace ferrow::opc {

namespace {
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

enum class Token { Match, NoMatch, Malformed };

// Matches the one-character token at pattern[*at] against c and moves *at past it.
Token matchOne(std::string_view pattern, std::size_t* at, char c) {
    const char p = upper(pattern[*at]);
    c = upper(c);
    if (p == '?') {
        ++*at;
        return Token::Match;
    }
    if (p == '#') {
        ++*at;
        return c >= '0' && c <= '9' ? Token::Match : Token::NoMatch;
    }
    if (p != '[') {
        ++*at;
        return p == c ? Token::Match : Token::NoMatch;
    }
    std::size_t i = *at + 1;
    const bool negate = i < pattern.size() && pattern[i] == '!';
    if (negate) ++i;
    bool found = false;
    while (i < pattern.size() && pattern[i] != ']') {
        const char low = upper(pattern[i]);
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            const char high = upper(pattern[i + 2]);
            if (c >= low && c <= high) found = true;
            i += 3;
        } else {
            if (c == low) found = true;
            ++i;
        }
    }
    if (i >= pattern.size()) return Token::Malformed;
    *at = i + 1;
    return found != negate ? Token::Match : Token::NoMatch;
}
}  // namespace

bool MatchPattern(std::string_view string, std::string_view pattern) {
    // Every token but `*` takes exactly one character, so going back to the last `*` and letting it take
    // one more character tries every split, shortest first, without recursion.
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t s = 0, p = 0, starP = kNone, starS = 0;
    while (s < string.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starS = s;
            continue;
        }
        if (p < pattern.size()) {
            std::size_t next = p;
            const Token t = matchOne(pattern, &next, string[s]);
            if (t == Token::Malformed) return false;
            if (t == Token::Match) {
                p = next;
                ++s;
                continue;
            }
        }
        if (starP == kNone) return false;
        p = starP;
        s = ++starS;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace ferrow::opc
