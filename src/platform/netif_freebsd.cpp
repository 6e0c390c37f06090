/*
 * FreeBSD: the interface count and statistics rows from the ifmib sysctls,
 * the interface's address, index, flags and broadcast or peer address from
 * the interface requests by name, made in place on the entry of the list.
 * SIOCGIFCONF would list every address of the host, and a fixed buffer
 * loses the interface's own on a large one: the list holds the one entry
 * that is asked for.
 */
#include "platform/netif.h"

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <net/if_mib.h>
#include <netinet/in.h>
#include <csignal>
#include <sys/ioctl.h>
#include <sys/procctl.h>
#include <sys/socket.h>
#include <sys/sockio.h>
#include <sys/sysctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

const char pf_default_ifname[] = "lo0";
const char pf_optstring[] = "be:i:r:t:";
const char *const pf_capture_programs[] = {"/usr/sbin/tcpdump", nullptr};

int pf_ifcount(int *count)
{
	size_t len = sizeof *count;

	return sysctlbyname("net.link.generic.system.ifcount", count, &len, nullptr, 0);
}

/* The first IPv4 address of the interface, as an entry of the list. */
int pf_getconf(int sock, const char *ifname, char *buf, int size)
{
	ifreq ifr;

	if (size < static_cast<int>(sizeof ifr))
		return 0;
	memset(&ifr, 0, sizeof ifr);
	strlcpy(ifr.ifr_name, ifname, sizeof ifr.ifr_name);
	ifr.ifr_addr.sa_family = AF_INET;
	ifr.ifr_addr.sa_len = sizeof(sockaddr_in);
	if (ioctl(sock, SIOCGIFADDR, &ifr) < 0) {
		/* no such interface, or no IPv4 address on it */
		if (errno == ENXIO || errno == EADDRNOTAVAIL || errno == EINVAL)
			return 0;
		return -1;
	}
	memcpy(buf, &ifr, sizeof ifr);
	return sizeof ifr;
}

/* Rows are interface indexes.  Asked only when the row must be found again. */
int pf_row_of(int, const char *ifname)
{
	unsigned index = if_nametoindex(ifname);

	return index ? static_cast<int>(index) : -1;
}

int pf_die_with_parent(pid_t parent)
{
	int sig = SIGKILL;

	if (procctl(P_PID, 0, PROC_PDEATHSIG_CTL, &sig) < 0)
		return -1;
	/* a parent that died before the call gave us to init, and sends nothing */
	return getppid() == parent ? 0 : -1;
}

int pf_flags(int sock, char *entry, unsigned *flags)
{
	ifreq *ifr = reinterpret_cast<ifreq *>(entry);

	if (ioctl(sock, SIOCGIFFLAGS, ifr) < 0)
		return -1;
	*flags = (ifr->ifr_flags & 0xffff) | (ifr->ifr_flagshigh << 16);
	return 0;
}

static int addr_ioctl(int sock, unsigned long req, char *entry, in_addr *addr)
{
	ifreq *ifr = reinterpret_cast<ifreq *>(entry);

	if (ioctl(sock, req, ifr) < 0)
		return -1;
	sockaddr_in sin;
	memcpy(&sin, &ifr->ifr_addr, sizeof sin);
	*addr = sin.sin_addr;
	return 0;
}

int pf_dstaddr(int sock, char *entry, in_addr *addr)
{
	return addr_ioctl(sock, SIOCGIFDSTADDR, entry, addr);
}

int pf_brdaddr(int sock, char *entry, in_addr *addr)
{
	return addr_ioctl(sock, SIOCGIFBRDADDR, entry, addr);
}

int pf_row(int row, if_row *out)
{
	int name[6] = {CTL_NET, PF_LINK, NETLINK_GENERIC, IFMIB_IFDATA, row, IFDATA_GENERAL};
	ifmibdata md;
	size_t len = sizeof md;

	if (sysctl(name, 6, &md, &len, nullptr, 0) < 0)
		return -1;
	memset(out->name, 0, sizeof out->name);
	strlcpy(out->name, md.ifmd_name, sizeof out->name);
	out->flags = md.ifmd_flags;
	out->ibytes = md.ifmd_data.ifi_ibytes;
	out->obytes = md.ifmd_data.ifi_obytes;
	out->ipackets = md.ifmd_data.ifi_ipackets;
	out->opackets = md.ifmd_data.ifi_opackets;
	out->lastchange = md.ifmd_data.ifi_lastchange.tv_sec;
	return 0;
}
