// The exe's own definitions of the helpers through which libstdc++'s
// containers, strings and threads raise their errors. libstdc++'s versions
// build std::length_error, std::system_error and their kin, whose messages
// are copy-on-write strings: those alone bring about 55 KB into the exe for
// errors that only a program fault or an exhausted machine raises. These
// throw the same standard classes where they carry no text, and otherwise a
// std::exception whose what() is libstdc++'s own text: every handler in the
// program catches std::exception, so nothing that was caught goes uncaught.
// Linked into the exe only (an object, not a library member, so libstdc++'s
// functexcept.o is never taken beside it); test programs use libstdc++'s.
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class LibraryError : public std::exception {
 public:
  explicit LibraryError(const char* text) : text_(text) {}
  const char* what() const noexcept override { return text_; }

 private:
  const char* text_;  // libstdc++ passes literals
};

}  // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char* text) { throw LibraryError(text); }
void __throw_domain_error(const char* text) { throw LibraryError(text); }
void __throw_invalid_argument(const char* text) { throw LibraryError(text); }
void __throw_length_error(const char* text) { throw LibraryError(text); }
void __throw_out_of_range(const char* text) { throw LibraryError(text); }
void __throw_out_of_range_fmt(const char* format, ...) { throw LibraryError(format); }
void __throw_runtime_error(const char* text) { throw LibraryError(text); }
void __throw_range_error(const char* text) { throw LibraryError(text); }
void __throw_overflow_error(const char* text) { throw LibraryError(text); }
void __throw_underflow_error(const char* text) { throw LibraryError(text); }
// A thread, mutex or condition variable call failed (the code is errno's).
void __throw_system_error(int) { throw LibraryError("a thread or lock call failed"); }

}  // namespace std
