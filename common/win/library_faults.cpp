// The standard library's throw helpers (std::__throw_length_error and its kind, which the string
// and container templates call on a fault), defined here instead of being taken from libstdc++.
// libstdc++ builds the exception each throws (std::length_error, std::out_of_range, ...) around
// its older reference-counted string, and so drags that whole second string class into a binary
// that never uses it: about 40 KB of a 32-bit program. libstdc++ documents these functions as the
// ones a program may provide itself.
//
// What is thrown is a std::exception with the library's own text: all our code catches of them
// is std::exception (the exception barrier, which reports what() and ends the process cleanly)
// and std::bad_alloc, which stays what it was.
#include <cstdarg>
#include <cstddef>
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class LibraryFault : public std::exception {
 public:
  explicit LibraryFault(const char* what) : what_(what ? what : "a standard library fault") {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;  // the library passes literals
};

// The range faults' texts are formats ("%s: __pos (which is %zu) > this->size() (which is %zu)"),
// written out here with their arguments into the exception itself: the C runtime's formatter
// does not know %zu, and the library's own brings back what this file keeps out.
class RangeFault : public std::exception {
 public:
  RangeFault(const char* format, va_list args) {
    size_t n = 0;
    const auto put = [&](char c) {
      if (n + 1 < sizeof text_) text_[n++] = c;
    };
    for (const char* f = format; *f; ++f) {
      if (f[0] != '%') {
        put(*f);
      } else if (f[1] == 's') {
        for (const char* a = va_arg(args, const char*); a && *a; ++a) put(*a);
        ++f;
      } else if ((f[1] == 'z' || f[1] == 'l') && f[2] == 'u') {
        const size_t value = f[1] == 'z' ? va_arg(args, size_t) : va_arg(args, unsigned long);
        char digits[24];
        int d = 0;
        size_t v = value;
        do digits[d++] = static_cast<char>('0' + v % 10); while ((v /= 10) != 0);
        while (d > 0) put(digits[--d]);
        f += 2;
      } else {
        put(*f);
      }
    }
    text_[n] = '\0';
  }
  const char* what() const noexcept override { return text_; }

 private:
  char text_[160];
};

}  // namespace

namespace std {

// The whole set libstdc++ defines together (functexcept), or its object would be linked for the
// one missing here, and clash with these.
void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char* what) { throw LibraryFault(what); }
void __throw_logic_error(const char* what) { throw LibraryFault(what); }
void __throw_out_of_range(const char* what) { throw LibraryFault(what); }
void __throw_out_of_range_fmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const RangeFault fault(format ? format : "out of range", args);
  va_end(args);
  throw fault;
}
void __throw_invalid_argument(const char* what) { throw LibraryFault(what); }
void __throw_domain_error(const char* what) { throw LibraryFault(what); }
void __throw_runtime_error(const char* what) { throw LibraryFault(what); }
void __throw_range_error(const char* what) { throw LibraryFault(what); }
void __throw_overflow_error(const char* what) { throw LibraryFault(what); }
void __throw_underflow_error(const char* what) { throw LibraryFault(what); }

}  // namespace std
