// A buffer unit that calls the system itself instead of through a platform
// file: both the question and the header must be found.
#ifdef _WIN32
#endif
#include <unistd.h>
