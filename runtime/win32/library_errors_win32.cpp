// Where the C++ library would throw. The Windows builds compile without
// exceptions and no code of ours catches one, so every exception the library
// raises ends the program: it unwinds to the first frame of ours, which has
// no unwind entry, and std::terminate runs. These definitions take the place
// of the library's own and end the program at once, the same way, without
// linking the exception objects, their message strings and the unwinder that
// throwing needs (about 100 KB of the i686 updater).
//
// A failed allocation never comes here: operator new reports it with its
// size (runtime/memory.cpp). The library calls __throw_bad_alloc only for a
// request larger than the address space, before asking for memory.
//
// The set is the one the library's functexcept and functional objects
// define: all of a member must be here, or the library's member is linked as
// well and its definitions collide with these. (__throw_system_error is left
// to the library: its object holds the error categories, which std::thread
// and the streams of the test programs need; the updater uses neither.)
#include <bits/functexcept.h>  // the library's declarations of these

#include <cstdlib>

namespace std {

void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_exception() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_bad_function_call() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }

}  // namespace std
