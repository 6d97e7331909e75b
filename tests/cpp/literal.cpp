#include "literal.hpp"

#include <charconv>
#include <stdexcept>
#include <string>
#include <vector>

namespace hexalume::testing {

namespace {

using value::Arena;
using value::Member;
using value::Node;

class Reader {
 public:
  Reader(std::string_view text, Arena& arena) : text_(text), arena_(arena) {}

  Node document() {
    Node node = read();
    skip_space();
    if (at_ != text_.size()) fail();
    return node;
  }

 private:
  [[noreturn]] void fail() const {
    throw std::invalid_argument("bad literal at " + std::to_string(at_) + ": " +
                                std::string(text_));
  }
  void skip_space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n')) ++at_;
  }
  bool take(std::string_view word) {
    skip_space();
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  void expect(char c) {
    if (!take(std::string_view(&c, 1))) fail();
  }

  Node read() {
    skip_space();
    if (at_ >= text_.size()) fail();
    if (take("null")) return value::make_null();
    if (take("true")) return value::make_bool(true);
    if (take("false")) return value::make_bool(false);
    char c = text_[at_];
    if (c == '"') return value::make_string(arena_, string());
    if (c == '[') return list();
    if (c == '{') return object();
    return number();
  }

  std::string string() {
    expect('"');
    std::string out;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\\') {
        if (at_ >= text_.size()) fail();
        char escaped = text_[at_++];
        switch (escaped) {
          case 'n':
            out.push_back('\n');
            break;
          case 't':
            out.push_back('\t');
            break;
          case 'r':
            out.push_back('\r');
            break;
          case '0':
            out.push_back('\0');
            break;
          default:
            out.push_back(escaped);
        }
      } else {
        out.push_back(c);
      }
    }
    expect('"');
    return out;
  }

  Node list() {
    expect('[');
    std::vector<Node> items;
    if (!take("]")) {
      do items.push_back(read());
      while (take(","));
      expect(']');
    }
    Node* stored = items.empty() ? nullptr : arena_.allocate_nodes(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) stored[i] = items[i];
    return value::make_list(stored, items.size());
  }

  Node object() {
    expect('{');
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
    for (std::size_t i = 0; i < members.size(); ++i) stored[i] = members[i];
    std::size_t count = value::sort_members(stored, members.size());
    return value::make_object(stored, count);
  }

  Node number() {
    std::size_t start = at_;
    while (at_ < text_.size() &&
           std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) {
      ++at_;
    }
    std::string_view digits = text_.substr(start, at_ - start);
    if (digits.empty()) fail();
    const char* first = digits.data();
    const char* last = first + digits.size();
    if (digits.find_first_of(".eE") != std::string_view::npos) {
      double number = 0;
      if (std::from_chars(first, last, number).ptr != last) fail();
      return value::make_float(number);
    }
    if (digits.front() == '-') {
      std::int64_t number = 0;
      if (std::from_chars(first, last, number).ptr != last) fail();
      return value::make_signed(number);
    }
    std::uint64_t number = 0;
    if (std::from_chars(first, last, number).ptr != last) fail();
    return value::make_unsigned(number);
  }

  std::string_view text_;
  Arena& arena_;
  std::size_t at_ = 0;
};

}  // namespace

value::Value literal(std::string_view json) {
  auto arena = std::make_unique<Arena>();
  Node root = Reader(json, *arena).document();
  return value::Value(std::move(arena), root);
}

}  // namespace hexalume::testing
