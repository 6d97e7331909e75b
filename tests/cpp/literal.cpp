#include "literal.hpp"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string>
#include <vector>

namespace hexalume::testing {

namespace {

using value::Member;
using value::Node;

class Reader {
 public:
  Reader(std::string_view text, value::Arena& arena) : text_(text), arena_(arena) {}

  Node document() {
    Node node = read();
    if (skip_space() != text_.size()) fail();
    return node;
  }

 private:
  [[noreturn]] void fail() const {
    throw std::invalid_argument("bad literal at " + std::to_string(at_) + ": " +
                                std::string(text_));
  }
  std::size_t skip_space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n')) ++at_;
    return at_;
  }
  bool take(std::string_view word) {
    if (text_.substr(skip_space(), word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  void expect(char c) {
    if (!take(std::string_view(&c, 1))) fail();
  }

  Node read() {
    if (skip_space() >= text_.size()) fail();
    if (take("null")) return value::make_null();
    if (take("true")) return value::make_bool(true);
    if (take("false")) return value::make_bool(false);
    if (text_[at_] == '"') return value::make_string(arena_, string());
    if (take("[")) return list();
    if (take("{")) return object();
    return number();
  }

  // \n, \t, \r and \0 stand for their control characters; a backslash before anything else
  // keeps that character.
  std::string string() {
    expect('"');
    std::string out;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\\') {
        if (at_ >= text_.size()) fail();
        c = text_[at_++];
        c = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
      }
      out.push_back(c);
    }
    expect('"');
    return out;
  }

  Node list() {
    std::vector<Node> items;
    if (!take("]")) {
      do items.push_back(read());
      while (take(","));
      expect(']');
    }
    Node* stored = items.empty() ? nullptr : arena_.allocate_nodes(items.size());
    std::copy(items.begin(), items.end(), stored);
    return value::make_list(stored, items.size());
  }

  Node object() {
    std::vector<Member> members;
    if (!take("}")) {
      do {
        skip_space();
        Member member;
        member.key = value::make_string(arena_, string());
        expect(':');
        member.value = read();
        members.push_back(member);
      } while (take(","));
      expect('}');
    }
    Member* stored = members.empty() ? nullptr : arena_.allocate_members(members.size());
    std::copy(members.begin(), members.end(), stored);
    return value::make_object(stored, value::sort_members(stored, members.size()));
  }

  template <typename Number>
  Number parse(std::string_view digits) const {
    Number number{};
    if (std::from_chars(digits.data(), digits.data() + digits.size(), number).ptr !=
        digits.data() + digits.size()) {
      fail();
    }
    return number;
  }

  Node number() {
    const std::size_t start = at_;
    while (at_ < text_.size() &&
           std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) {
      ++at_;
    }
    const std::string_view digits = text_.substr(start, at_ - start);
    if (digits.empty()) fail();
    if (digits.find_first_of(".eE") != std::string_view::npos) {
      return value::make_float(parse<double>(digits));
    }
    // Integers of any size: 64-bit ones as Unsigned or Signed, larger ones as Big.
    return value::make_big_integer(arena_, digits);
  }

  std::string_view text_;
  value::Arena& arena_;
  std::size_t at_ = 0;
};

}  // namespace

value::Value literal(std::string_view json) {
  value::Arena arena;
  Node root = Reader(json, arena).document();
  return value::Value(std::move(arena), root);
}

}  // namespace hexalume::testing
