// The two string classes the program uses, compiled here with the program's
// own settings: for size, without exceptions, one section per function, so
// that the linker keeps only the members something calls. The library's
// headers declare these classes as instantiated elsewhere; without this file
// the linker takes the library's prebuilt copies, every member with its
// unwind tables (about 60 KB of the i686 updater). Every program that links
// the runtime gets these definitions first.
#include <string>

template class std::basic_string<char>;
template class std::basic_string<wchar_t>;
