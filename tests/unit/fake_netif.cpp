#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

#include "fake_netif.h"

fake_kernel fake;

const char pf_default_ifname[] = "lo";
const char pf_optstring[] = "+be:i:r:t:";
const char *const pf_capture_programs[] = {"/nonexistent/tcpdump", nullptr};

void fake_reset()
{
	fake = fake_kernel{};
}

void fake_entry(const char *name, int family, int salen, const char *addr)
{
	unsigned char *e = fake.conf + fake.conf_len;
	int size = 16 + (salen > 16 ? salen : 16);

	memset(e, 0, size);
	strncpy(reinterpret_cast<char *>(e), name, 15);
	e[16] = salen;
	e[17] = family;
	if (addr)
		inet_pton(AF_INET, addr, e + 20);
	fake.conf_len += size;
}

int pf_ifcount(int *count)
{
	*count = fake.ifcount;
	return 0;
}

int pf_getconf(int, const char *, char *buf, int size)
{
	int used = 0;

	/* whole entries only, as the kernel does */
	while (used < fake.conf_len) {
		int salen = fake.conf[used + 16];
		int esize = 16 + (salen > 16 ? salen : 16);
		if (used + esize > size)
			break;
		used += esize;
	}
	memcpy(buf, fake.conf, used);
	return used;
}

static int answer(const void *from, void *to, size_t size)
{
	if (fake.request_errno) {
		errno = fake.request_errno;
		return -1;
	}
	memcpy(to, from, size);
	return 0;
}

int pf_flags(int, char *, unsigned *flags)
{
	return answer(&fake.flags, flags, sizeof *flags);
}

int pf_dstaddr(int, char *, in_addr *addr)
{
	return answer(&fake.dst, addr, sizeof *addr);
}

int pf_brdaddr(int, char *, in_addr *addr)
{
	return answer(&fake.brd, addr, sizeof *addr);
}

int pf_row_of(int, const char *ifname)
{
	for (int row = 1; row <= FAKE_ROWS; row++)
		if (fake.rows[row].name[0] && strncmp(fake.rows[row].name, ifname, IFNAME_SIZE) == 0)
			return row;
	return -1;
}

int pf_row(int row, if_row *out)
{
	if (row < 1 || row > FAKE_ROWS || !fake.rows[row].name[0])
		return -1;
	*out = fake.rows[row];
	return 0;
}

void pf_time(timeval *now)
{
	*now = fake.now;
}

int pf_die_with_parent(pid_t)
{
	return 0;
}

int pf_hostname(in_addr, char *buf, size_t size, int)
{
	fake.lookups++;
	if (!fake.hostname)
		return -1;
	snprintf(buf, size, "%s", fake.hostname);
	return 0;
}
