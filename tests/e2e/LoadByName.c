/* Loads the library its argument names the plain way, by bare name: the
   tests' proof that a planted copy would be found by such a load. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    return argc == 2 && LoadLibraryW(argv[1]) ? 0 : 1;
}
