// Translated into a std::regex (ECMAScript, icase); the translation escapes every
// regex character VISA treats as a literal, so no expression can reach regex
// features VISA does not have (anchors, braces, back-references).
#include "visa/visa_find_expr.h"

// GCC 12 reports a false "may be used uninitialized" inside <regex>'s std::function
// when built with the sanitizers; the warning is in the library, not in this file.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>

namespace visa {

namespace {
// Resource expressions are short; a cap keeps the regex engine's recursion small.
constexpr size_t max_expr_length = 256;

bool is_regex_special(char c) {
    switch (c) {
        case '.':
        case '^':
        case '$':
        case '{':
        case '}':
        case '/':
        case '-':
        case '=':
        case '!':
        case ':':
        case '\\':
        case '*':
        case '+':
        case '?':
        case '(':
        case ')':
        case '[':
        case ']':
        case '|':
            return true;
        default:
            return false;
    }
}

void append_literal(std::string& out, char c) {
    if (is_regex_special(c)) out += '\\';
    out += c;
}

// Returns false for malformed input.
bool translate(const std::string& expr, std::string& out) {
    bool have_item = false;  // whether '*' or '+' has something to repeat
    int depth = 0;
    for (size_t i = 0; i < expr.size(); ++i) {
        const char c = expr[i];
        switch (c) {
            case '?':
                out += "[\\s\\S]";
                have_item = true;
                break;
            case '*':
            case '+':
                if (!have_item) {
                    out += c == '*' ? "[\\s\\S]*" : "[\\s\\S]+";
                } else {
                    out += c;
                }
                have_item = false;  // no repeat of a repeat
                break;
            case '(':
                out += "(?:";
                ++depth;
                have_item = false;
                break;
            case ')':
                if (depth == 0) return false;
                out += ')';
                --depth;
                have_item = true;
                break;
            case '|':
                out += '|';
                have_item = false;
                break;
            case '\\':
                if (++i >= expr.size()) return false;
                append_literal(out, expr[i]);
                have_item = true;
                break;
            case '[': {
                out += '[';
                size_t j = i + 1;
                if (j < expr.size() && expr[j] == '^') {
                    out += '^';
                    ++j;
                }
                const size_t first = j;
                for (; j < expr.size() && (expr[j] != ']' || j == first); ++j) {
                    const char k = expr[j];
                    if (k == '-' && j != first && j + 1 < expr.size() && expr[j + 1] != ']') {
                        out += '-';
                    } else {
                        append_literal(out, k);
                    }
                }
                if (j >= expr.size() || j == first) return false;
                out += ']';
                i = j;
                have_item = true;
                break;
            }
            case '{':
            case '}':
                return false;  // attribute filters are not supported
            default:
                append_literal(out, c);
                have_item = true;
                break;
        }
    }
    return depth == 0;
}
}  // namespace

struct find_expr_t::impl_t {
    std::regex re;
};

find_expr_t::find_expr_t() = default;
find_expr_t::~find_expr_t() = default;
find_expr_t::find_expr_t(find_expr_t&&) noexcept = default;
find_expr_t& find_expr_t::operator=(find_expr_t&&) noexcept = default;

bool find_expr_t::compile(const std::string& expr) {
    m_impl.reset();
    if (expr.empty() || expr.size() > max_expr_length) return false;
    std::string pattern;
    if (!translate(expr, pattern)) return false;
    try {
        auto impl = std::make_unique<impl_t>();
        impl->re = std::regex(pattern, std::regex::ECMAScript | std::regex::icase);
        m_impl = std::move(impl);
    } catch (const std::exception&) {
        return false;  // a pattern the translation let through but the engine refuses
    }
    return true;
}

bool find_expr_t::matches(const std::string& rsrc) const {
    if (!m_impl) return false;
    try {
        return std::regex_match(rsrc, m_impl->re);
    } catch (const std::exception&) {
        return false;  // complexity limit of the engine
    }
}

}  // namespace visa

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
