#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "fake_netif.h"

fake_kernel fake;

const char pf_default_ifname[] = "lo";
const unsigned pf_unkept = ROW_OMCASTS;
const char pf_optstring[] = "+abc:de:gi:o:r:t:u:w:";
const char *const pf_capture_programs[] = {"/nonexistent/tcpdump", nullptr};

void fake_reset()
{
	fake = fake_kernel{};
	fake.watch_fd = -1;
}

void fake_entry(const char *name, int family, int salen, const char *addr)
{
	unsigned char *e = fake.conf + fake.conf_len;
	int size = 16 + (salen > 16 ? salen : 16);

	memset(e, 0, size);
	strncpy(reinterpret_cast<char *>(e), name, 15);
	e[16] = salen;
	e[17] = family;
	if (addr && family == 2)
		inet_pton(AF_INET, addr, e + 20);
	else if (addr && family == AF_INET6)
		inet_pton(AF_INET6, addr, e + 24);
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
	if (fake.addr_errno) {
		errno = fake.addr_errno;
		return -1;
	}
	return answer(&fake.dst, addr, sizeof *addr);
}

int pf_brdaddr(int, char *, in_addr *addr)
{
	if (fake.addr_errno) {
		errno = fake.addr_errno;
		return -1;
	}
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

int64_t pf_mono_ns()
{
	return fake.mono;
}

time_t pf_wall()
{
	return fake.wall;
}

int pf_watch()
{
	return fake.watch_fd;
}

int pf_notice(int, int, const char *)
{
	return fake.notice;
}

void pf_set_name(char **, const char *)
{
}

int pf_die_with_parent(pid_t)
{
	return 0;
}

int pf_child_fds(int fd)
{
	return fd;
}

/* A real child and pipe, as the main loop would wait for them. */
pid_t pf_lookup(in_addr, int *fd, char **)
{
	int p[2];

	fake.lookups++;
	if (pipe(p) < 0)
		return -1;
	pid_t pid = fork();
	if (pid == 0) {
		sleep(fake.lookup_delay);
		if (fake.hostname)
			(void)!write(p[1], fake.hostname, strlen(fake.hostname));
		_exit(fake.hostname ? 0 : 1);
	}
	close(p[1]);
	fcntl(p[0], F_SETFL, O_NONBLOCK);
	*fd = p[0];
	return pid;
}

/* The rows that have a name, in index order; no addresses. */
int pf_list(if_entry *out, int max)
{
	int n = 0;

	for (int row = 1; row <= FAKE_ROWS && n < max; row++) {
		if (!fake.rows[row].name[0])
			continue;
		out[n] = if_entry{};
		out[n].index = row;
		out[n].row = fake.rows[row];
		n++;
	}
	return n;
}

void pf_list_done()
{
}
