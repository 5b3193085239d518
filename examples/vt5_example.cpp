// A small host of libvt5: grows with the library into a create/read demo.
#include <cstdio>

int main()
{
    std::printf("vt5 example host\n");
    return 0;
}
