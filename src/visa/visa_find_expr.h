// viFindRsrc expressions: '?' one character, '*' zero or more and '+' one or more of
// the previous item, [list] and [^list], (a|b) grouping and alternation, '\' escape,
// matched case-insensitively against the whole resource string. A '*' or '+' with
// nothing before it matches any run, as in a shell glob. The optional attribute
// filter part "{...}" is not supported and makes the expression invalid.
#pragma once

#include <memory>
#include <string>

namespace visa {

class find_expr_t {
public:
    find_expr_t();
    ~find_expr_t();
    find_expr_t(find_expr_t&&) noexcept;
    find_expr_t& operator=(find_expr_t&&) noexcept;

    // False for a malformed or unsupported expression.
    bool compile(const std::string& expr);
    bool matches(const std::string& rsrc) const;

private:
    struct impl_t;
    std::unique_ptr<impl_t> m_impl;
};

}  // namespace visa
