/* The frames both header hosts write and expect: 8-bit samples, one
 * component, 10 x 6 pixels (rows of 12 bytes with the interface's 4-byte
 * alignment). */
#ifndef QORFILE_HEADER_HOSTS_PATTERN_H
#define QORFILE_HEADER_HOSTS_PATTERN_H

#define HOST_WIDTH 10u
#define HOST_HEIGHT 6u
#define HOST_FRAMES 3u

static unsigned char host_sample(unsigned frame, unsigned x, unsigned y)
{
    return (unsigned char)((x * 7u + y * 31u + frame * 13u) & 0xFFu);
}

#endif
