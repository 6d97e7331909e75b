// The extension module _hexalume_json: the command's reader of JSON documents. One pass over
// the bytes builds the Python objects and notes what the command warns about (keys written twice,
// numbers whose text a double does not hold), so that no Python code runs per value.
//
// It reads what RFC 8259 allows and leaves everything else to the json module, by returning None:
// invalid documents (whose error messages are the json module's), lone surrogates, numbers beyond
// the double range, input that is not UTF-8, and nesting deeper than the caller allows.

#include "python/boundary.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "value/decimal_text.hpp"

namespace hexalume::python {

namespace {

// How many inexact numbers are handed back to the command with their objects: it names the path
// of the first one left in the document (a key written twice may have dropped the very first).
constexpr std::size_t kInexactKept = 16;
// Ctrl-C is looked at once per this many values.
constexpr std::uint32_t kValuesPerSignalCheck = 1u << 16;
// Keys and short strings are made once per distinct text, in a direct-mapped cache of this many
// slots: records repeat their keys, and sharing one object saves memory and hashing.
constexpr int kCacheBits = 12;
constexpr std::size_t kCacheSlots = std::size_t{1} << kCacheBits;
constexpr std::size_t kCachedLength = 24;
// Integers of up to this many digits fit in a long long.
constexpr std::size_t kShortIntegerDigits = 18;

enum class Outcome { Read, NotMine, Failed };  // Failed: a Python exception is set

struct CacheSlot {
  std::string text;
  PyRef object;
};

// A container being read: where its items start on the shared stack of pending values, and the
// value at the same position of the earlier document (borrowed; nullptr when there is none).
struct Frame {
  bool object;
  std::size_t first;
  PyObject* earlier;
};

class Reader {
 public:
  // `earlier` (borrowed, may be nullptr) is a document read before: where this one is equal to
  // it at the same position, its objects are used instead of new ones.
  Reader(std::string_view text, std::size_t max_depth, PyObject* earlier)
      : text_(text), max_depth_(max_depth), earlier_(earlier), cache_(kCacheSlots) {}

  ~Reader() {
    for (PyObject* item : pending_) Py_DECREF(item);
  }

  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  Outcome read(PyRef& document);
  PyRef take_duplicates() { return std::move(duplicates_); }
  PyRef take_inexact() { return std::move(inexact_); }
  PyRef take_first_inexact_path() { return std::move(first_inexact_path_); }
  std::size_t inexact_count() const { return inexact_count_; }

 private:
  Outcome value();
  Outcome string(bool key);
  Outcome number();
  Outcome literal(std::string_view word, PyObject* object);
  Outcome close_list();
  Outcome close_object();
  Outcome replace_pending(std::size_t first, PyObject* earlier);
  Outcome note_inexact(PyObject* number, std::string_view written);
  PyRef path_here() const;
  PyObject* cached(std::string_view bytes);

  void skip_space() {
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') break;
      ++at_;
    }
  }
  bool push(PyObject* object) {
    if (object == nullptr) return false;
    pending_.push_back(object);
    return true;
  }
  PyObject* earlier_here();
  bool push_shared(PyObject* made);

  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t max_depth_;
  PyObject* earlier_;
  std::vector<PyObject*> pending_;  // values read, not yet in their container (owned)
  std::vector<Frame> frames_;
  std::vector<CacheSlot> cache_;
  std::string scratch_;
  std::uint32_t until_signal_check_ = kValuesPerSignalCheck;
  PyRef duplicates_;  // list of (dict, [keys written twice]) or empty
  PyRef inexact_;     // list of (float, text) or empty
  PyRef first_inexact_path_;
  std::size_t inexact_count_ = 0;
};

// The document is read without recursion: containers open frames, and each value read is pushed
// on `pending_` until its container closes.
Outcome Reader::read(PyRef& document) {
  if (text_.size() >= 3 && std::memcmp(text_.data(), "\xEF\xBB\xBF", 3) == 0) at_ = 3;
  // The json module takes UTF-16 and UTF-32 too; they start with a zero byte in the first four.
  if (std::memchr(text_.data(), 0, text_.size() < 4 ? text_.size() : 4) != nullptr) {
    return Outcome::NotMine;
  }
  while (true) {
    skip_space();
    if (at_ >= text_.size()) return Outcome::NotMine;
    if (--until_signal_check_ == 0) {
      until_signal_check_ = kValuesPerSignalCheck;
      if (PyErr_CheckSignals() != 0) return Outcome::Failed;
    }
    char c = text_[at_];
    bool in_object = !frames_.empty() && frames_.back().object;
    if (in_object) {
      // A key, then ':', then the value.
      if (c != '"') return Outcome::NotMine;
      if (Outcome outcome = string(true); outcome != Outcome::Read) return outcome;
      skip_space();
      if (at_ >= text_.size() || text_[at_] != ':') return Outcome::NotMine;
      ++at_;
      skip_space();
      if (at_ >= text_.size()) return Outcome::NotMine;
      c = text_[at_];
    }
    if (c == '[' || c == '{') {
      if (frames_.size() >= max_depth_) return Outcome::NotMine;
      ++at_;
      PyObject* earlier = earlier_here();
      if (earlier == nullptr && PyErr_Occurred()) return Outcome::Failed;
      frames_.push_back({c == '{', pending_.size(), earlier});
      skip_space();
      if (at_ < text_.size() && text_[at_] == (c == '[' ? ']' : '}')) {
        ++at_;
        Outcome outcome = c == '[' ? close_list() : close_object();
        if (outcome != Outcome::Read) return outcome;
      } else {
        continue;
      }
    } else if (Outcome outcome = value(); outcome != Outcome::Read) {
      return outcome;
    }
    // After a value: ',' goes on in its container, ']' or '}' closes it (and perhaps more).
    while (true) {
      skip_space();
      if (frames_.empty()) {
        if (at_ != text_.size()) return Outcome::NotMine;
        document = PyRef::steal(pending_.back());
        pending_.pop_back();
        return Outcome::Read;
      }
      if (at_ >= text_.size()) return Outcome::NotMine;
      char next = text_[at_++];
      if (next == ',') break;
      Outcome outcome = Outcome::NotMine;
      if (next == ']' && !frames_.back().object) outcome = close_list();
      if (next == '}' && frames_.back().object) outcome = close_object();
      if (outcome != Outcome::Read) return outcome;
    }
  }
}

Outcome Reader::value() {
  char c = text_[at_];
  switch (c) {
    case '"':
      return string(false);
    case 't':
      return literal("true", Py_True);
    case 'f':
      return literal("false", Py_False);
    case 'n':
      return literal("null", Py_None);
    default:
      if (c == '-' || (c >= '0' && c <= '9')) return number();
      return Outcome::NotMine;
  }
}

Outcome Reader::literal(std::string_view word, PyObject* object) {
  if (text_.substr(at_, word.size()) != word) return Outcome::NotMine;
  at_ += word.size();
  Py_INCREF(object);
  pending_.push_back(object);
  return Outcome::Read;
}

PyObject* Reader::cached(std::string_view bytes) {
  // Eight bytes at a time, each word multiplied in (the constants of FNV and of 64-bit
  // Fibonacci hashing); the slot comes from the top bits, which every byte reaches.
  std::uint64_t hash = 14695981039346656037ull ^ bytes.size();
  std::size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + at, 8);
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
    hash ^= hash >> 29;
  }
  if (at < bytes.size()) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + at, bytes.size() - at);
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
  }
  CacheSlot& slot = cache_[static_cast<std::size_t>(hash >> (64 - kCacheBits))];
  if (!slot.object || slot.text != bytes) {
    PyRef made = PyRef::steal(
        PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr));
    if (!made) return nullptr;
    slot.text.assign(bytes);
    slot.object = std::move(made);
  }
  Py_INCREF(slot.object.get());
  return slot.object.get();
}

// Reads a string at '"'. Text without escapes is decoded from the input in place; escapes are
// written out to UTF-8 in `scratch_` first.
Outcome Reader::string(bool key) {
  std::size_t start = ++at_;
  std::size_t end = start;
  while (end < text_.size()) {
    auto byte = static_cast<unsigned char>(text_[end]);
    if (byte == '"' || byte == '\\' || byte < 0x20) break;
    ++end;
  }
  if (end >= text_.size() || static_cast<unsigned char>(text_[end]) < 0x20) {
    return Outcome::NotMine;
  }
  std::string_view bytes = text_.substr(start, end - start);
  if (text_[end] == '\\') {
    scratch_.assign(bytes);
    while (true) {
      if (end >= text_.size()) return Outcome::NotMine;
      auto byte = static_cast<unsigned char>(text_[end]);
      if (byte == '"') break;
      if (byte < 0x20) return Outcome::NotMine;
      if (byte != '\\') {
        scratch_.push_back(text_[end++]);
        continue;
      }
      if (end + 1 >= text_.size()) return Outcome::NotMine;
      char escape = text_[end + 1];
      end += 2;
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          scratch_.push_back(escape);
          continue;
        case 'b':
          scratch_.push_back('\b');
          continue;
        case 'f':
          scratch_.push_back('\f');
          continue;
        case 'n':
          scratch_.push_back('\n');
          continue;
        case 'r':
          scratch_.push_back('\r');
          continue;
        case 't':
          scratch_.push_back('\t');
          continue;
        case 'u':
          break;
        default:
          return Outcome::NotMine;
      }
      auto hex4 = [&](std::size_t from, std::uint32_t& unit) {
        if (from + 4 > text_.size()) return false;
        auto [last, error] =
            std::from_chars(text_.data() + from, text_.data() + from + 4, unit, 16);
        return error == std::errc{} && last == text_.data() + from + 4;
      };
      std::uint32_t code = 0;
      if (!hex4(end, code)) return Outcome::NotMine;
      end += 4;
      if (code >= 0xD800 && code <= 0xDFFF) {
        // Only a high surrogate followed by a low one makes a character; a lone one is left to
        // the json module, which keeps it in the string.
        std::uint32_t low = 0;
        if (code > 0xDBFF || end + 6 > text_.size() || text_[end] != '\\' ||
            text_[end + 1] != 'u' || !hex4(end + 2, low) || low < 0xDC00 || low > 0xDFFF) {
          return Outcome::NotMine;
        }
        end += 6;
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      }
      if (code < 0x80) {
        scratch_.push_back(static_cast<char>(code));
      } else if (code < 0x800) {
        scratch_.push_back(static_cast<char>(0xC0 | (code >> 6)));
        scratch_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
      } else if (code < 0x10000) {
        scratch_.push_back(static_cast<char>(0xE0 | (code >> 12)));
        scratch_.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        scratch_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
      } else {
        scratch_.push_back(static_cast<char>(0xF0 | (code >> 18)));
        scratch_.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        scratch_.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        scratch_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
      }
    }
    bytes = scratch_;
  }
  at_ = end + 1;
  PyObject* text = nullptr;
  if (key) {
    text = cached(bytes);
  } else {
    PyObject* earlier = earlier_here();
    if (earlier != nullptr && PyUnicode_CheckExact(earlier)) {
      Py_ssize_t size = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(earlier, &size);
      if (utf8 == nullptr) {
        // A lone surrogate (read by the json module) has no UTF-8 and is never equal here.
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return Outcome::Failed;
        PyErr_Clear();
      } else if (std::string_view(utf8, static_cast<std::size_t>(size)) == bytes) {
        Py_INCREF(earlier);
        pending_.push_back(earlier);
        return Outcome::Read;
      }
    } else if (earlier == nullptr && PyErr_Occurred()) {
      return Outcome::Failed;
    }
    text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
  }
  if (text == nullptr) {
    // Bytes that are not UTF-8 are the json module's to report, in its words.
    if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return Outcome::Failed;
    PyErr_Clear();
    return Outcome::NotMine;
  }
  pending_.push_back(text);
  return Outcome::Read;
}

Outcome Reader::number() {
  std::size_t start = at_;
  if (text_[at_] == '-') ++at_;
  auto digits = [&] {
    std::size_t from = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ - from;
  };
  std::size_t integer_start = at_;
  std::size_t integer_digits = digits();
  std::size_t fraction_digits = 0;
  if (integer_digits == 0 || (integer_digits > 1 && text_[integer_start] == '0')) {
    return Outcome::NotMine;
  }
  bool is_float = false;
  if (at_ < text_.size() && text_[at_] == '.') {
    ++at_;
    fraction_digits = digits();
    if (fraction_digits == 0) return Outcome::NotMine;
    is_float = true;
  }
  bool has_exponent = false;
  if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
    ++at_;
    if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
    if (digits() == 0) return Outcome::NotMine;
    is_float = has_exponent = true;
  }
  std::string_view written = text_.substr(start, at_ - start);
  if (!is_float) {
    if (integer_digits <= kShortIntegerDigits) {
      long long magnitude = 0;
      for (std::size_t i = integer_start; i < at_; ++i)
        magnitude = magnitude * 10 + (text_[i] - '0');
      return push_shared(PyLong_FromLongLong(written[0] == '-' ? -magnitude : magnitude))
                 ? Outcome::Read
                 : Outcome::Failed;
    }
    scratch_.assign(written);  // PyLong_FromString wants a terminated text
    return push_shared(PyLong_FromString(scratch_.c_str(), nullptr, 10)) ? Outcome::Read
                                                                         : Outcome::Failed;
  }
  double parsed = 0;
  auto [last, error] = std::from_chars(written.data(), written.data() + written.size(), parsed);
  // Beyond the double range (either way) the json module's reading and messages apply.
  if (error != std::errc{} || last != written.data() + written.size()) return Outcome::NotMine;
  PyObject* result = PyFloat_FromDouble(parsed);
  // A decimal of at most 15 significant digits in the normal range is what its double reads back
  // as (DBL_DIG); counting every digit is cautious, and spares most numbers the exact test.
  bool surely_exact = !has_exponent && integer_digits + fraction_digits <= 15 &&
                      (parsed == 0 || std::fabs(parsed) >= 1e-300);
  if (!surely_exact && !value::written_exactly(written, parsed)) {
    // Its own object, never a shared one: the command finds its path by identity.
    if (!push(result)) return Outcome::Failed;
    return note_inexact(result, written);
  }
  return push_shared(result) ? Outcome::Read : Outcome::Failed;
}

Outcome Reader::note_inexact(PyObject* number, std::string_view written) {
  if (inexact_count_++ >= kInexactKept) return Outcome::Read;
  if (!inexact_) {
    inexact_ = PyRef::steal(PyList_New(0));
    if (!inexact_) return Outcome::Failed;
    first_inexact_path_ = path_here();
    if (!first_inexact_path_) return Outcome::Failed;
  }
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(written.data(), static_cast<Py_ssize_t>(written.size()), nullptr));
  if (!text) return Outcome::Failed;
  PyRef pair = PyRef::steal(PyTuple_Pack(2, number, text.get()));
  if (!pair || PyList_Append(inexact_.get(), pair.get()) != 0) return Outcome::Failed;
  return Outcome::Read;
}

// The steps from the root to the value on top of `pending_`: a str per key, an int per index.
PyRef Reader::path_here() const {
  PyRef steps = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(frames_.size())));
  if (!steps) return {};
  for (std::size_t depth = 0; depth < frames_.size(); ++depth) {
    const Frame& frame = frames_[depth];
    // The container's next frame (or the value itself) begins after its items read so far.
    std::size_t end = depth + 1 < frames_.size() ? frames_[depth + 1].first : pending_.size() - 1;
    PyObject* step = nullptr;
    if (frame.object) {
      step = pending_[end - 1];  // the key, pushed just before its value
      Py_INCREF(step);
    } else {
      step = PyLong_FromSize_t(end - frame.first);
      if (step == nullptr) return {};
    }
    PyTuple_SetItem(steps.get(), static_cast<Py_ssize_t>(depth), step);
  }
  return steps;
}

Outcome Reader::close_list() {
  std::size_t first = frames_.back().first;
  PyObject* earlier = frames_.back().earlier;
  frames_.pop_back();
  std::size_t count = pending_.size() - first;
  if (earlier != nullptr && PyList_CheckExact(earlier) &&
      PyList_Size(earlier) == static_cast<Py_ssize_t>(count)) {
    bool same = true;
    for (std::size_t i = 0; i < count && same; ++i) {
      same = PyList_GetItem(earlier, static_cast<Py_ssize_t>(i)) == pending_[first + i];
    }
    if (same) return replace_pending(first, earlier);
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(count));
  if (list == nullptr) return Outcome::Failed;
  for (std::size_t i = 0; i < count; ++i) {
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), pending_[first + i]);  // steals
  }
  pending_.resize(first);
  pending_.push_back(list);
  return Outcome::Read;
}

Outcome Reader::close_object() {
  std::size_t first = frames_.back().first;
  PyObject* earlier = frames_.back().earlier;
  frames_.pop_back();
  if (earlier != nullptr && PyDict_CheckExact(earlier) &&
      PyDict_Size(earlier) == static_cast<Py_ssize_t>((pending_.size() - first) / 2)) {
    // The same keys in the same order, each with the very object of the earlier document.
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    bool same = true;
    for (std::size_t i = first; same && PyDict_Next(earlier, &position, &key, &value); i += 2) {
      same = value == pending_[i + 1] &&
             (key == pending_[i] ||
              (PyUnicode_CheckExact(key) && PyUnicode_Compare(key, pending_[i]) == 0));
    }
    if (same) return replace_pending(first, earlier);
  }
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return Outcome::Failed;
  PyRef twice;  // keys written twice, each once, in the order of their second writing
  bool failed = false;
  for (std::size_t i = first; i < pending_.size(); i += 2) {
    PyObject* key = pending_[i];
    Py_ssize_t before = PyDict_Size(dict.get());
    // As JSON readers do, a key written twice keeps its first place and its last value.
    if (PyDict_SetItem(dict.get(), key, pending_[i + 1]) != 0) {
      failed = true;
      break;
    }
    if (PyDict_Size(dict.get()) == before) {
      if (!twice && !(twice = PyRef::steal(PyList_New(0)))) {
        failed = true;
        break;
      }
      int known = PySequence_Contains(twice.get(), key);
      if (known < 0 || (known == 0 && PyList_Append(twice.get(), key) != 0)) {
        failed = true;
        break;
      }
    }
  }
  for (std::size_t i = first; i < pending_.size(); ++i) Py_DECREF(pending_[i]);
  pending_.resize(first);
  if (failed) return Outcome::Failed;
  if (twice) {
    if (!duplicates_ && !(duplicates_ = PyRef::steal(PyList_New(0)))) return Outcome::Failed;
    PyRef pair = PyRef::steal(PyTuple_Pack(2, dict.get(), twice.get()));
    if (!pair || PyList_Append(duplicates_.get(), pair.get()) != 0) return Outcome::Failed;
  }
  pending_.push_back(dict.release());
  return Outcome::Read;
}

// The earlier document's value at the position of the value about to be read: borrowed, or
// nullptr when there is none (with an exception set only on failure).
PyObject* Reader::earlier_here() {
  if (frames_.empty()) return pending_.empty() ? earlier_ : nullptr;
  const Frame& frame = frames_.back();
  if (frame.earlier == nullptr) return nullptr;
  if (frame.object) {
    if (!PyDict_CheckExact(frame.earlier)) return nullptr;
    return PyDict_GetItemWithError(frame.earlier, pending_.back());  // at the key just read
  }
  if (!PyList_CheckExact(frame.earlier)) return nullptr;
  auto index = static_cast<Py_ssize_t>(pending_.size() - frame.first);
  return index < PyList_Size(frame.earlier) ? PyList_GetItem(frame.earlier, index) : nullptr;
}

// Pushes `made` (a new number), or instead the earlier document's object at this position when
// it is of the same type with the same value (floats bit for bit, so -0.0 stays -0.0).
bool Reader::push_shared(PyObject* made) {
  if (made == nullptr) return false;
  PyObject* earlier = earlier_here();
  if (earlier == nullptr) {
    if (PyErr_Occurred()) {
      Py_DECREF(made);
      return false;
    }
  } else if (Py_TYPE(earlier) == Py_TYPE(made)) {
    bool same = false;
    if (PyFloat_CheckExact(made)) {
      double old_value = PyFloat_AsDouble(earlier);
      double new_value = PyFloat_AsDouble(made);
      same = std::memcmp(&old_value, &new_value, sizeof(double)) == 0;
    } else {
      int equal = PyObject_RichCompareBool(earlier, made, Py_EQ);
      if (equal < 0) {
        Py_DECREF(made);
        return false;
      }
      same = equal == 1;
    }
    if (same) {
      Py_DECREF(made);
      Py_INCREF(earlier);
      made = earlier;
    }
  }
  pending_.push_back(made);
  return true;
}

// Ends a container equal to the earlier document's `earlier`: its items are dropped and the
// earlier object takes its place.
Outcome Reader::replace_pending(std::size_t first, PyObject* earlier) {
  for (std::size_t i = first; i < pending_.size(); ++i) Py_DECREF(pending_[i]);
  pending_.resize(first);
  Py_INCREF(earlier);
  pending_.push_back(earlier);
  return Outcome::Read;
}

PyObject* list_or_empty(PyRef list) { return list ? list.release() : PyList_New(0); }

// read(data: bytes, max_depth: int, earlier=None) -> (document, duplicates, inexact_count,
// inexact, first_inexact_path) or None when the json module must read the document. Where the
// document equals `earlier` at the same position, it holds earlier's objects.
PyObject* read_json(PyObject*, PyObject* args) noexcept {
  try {
    PyObject* data = nullptr;
    Py_ssize_t max_depth = 0;
    PyObject* earlier = nullptr;
    if (!PyArg_ParseTuple(args, "Sn|O:read", &data, &max_depth, &earlier)) return nullptr;
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(data, &bytes, &size) != 0) return nullptr;
    Reader reader(std::string_view(bytes, static_cast<std::size_t>(size)),
                  max_depth > 0 ? static_cast<std::size_t>(max_depth) : 0, earlier);
    PyRef document;
    switch (reader.read(document)) {
      case Outcome::Failed:
        return nullptr;
      case Outcome::NotMine:
        Py_RETURN_NONE;
      case Outcome::Read:
        break;
    }
    PyRef duplicates = PyRef::steal(list_or_empty(reader.take_duplicates()));
    PyRef inexact = PyRef::steal(list_or_empty(reader.take_inexact()));
    PyRef first_path = reader.take_first_inexact_path();
    if (!duplicates || !inexact) return nullptr;
    return Py_BuildValue("(OOnOO)", document.get(), duplicates.get(),
                         static_cast<Py_ssize_t>(reader.inexact_count()), inexact.get(),
                         first_path ? first_path.get() : Py_None);
  } catch (const std::bad_alloc&) {  // the only exception the reader can throw
    return PyErr_NoMemory();
  }
}

PyMethodDef methods[] = {
    {"read", read_json, METH_VARARGS,
     "read(data, max_depth, earlier=None) -> (document, duplicates, inexact_count, inexact, "
     "first_inexact_path), or None when the json module must read data"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_hexalume_json",
    "The hexalume command's JSON reader.",
    -1,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace hexalume::python

PyMODINIT_FUNC PyInit__hexalume_json() {
  return PyModule_Create(&hexalume::python::module_definition);
}
