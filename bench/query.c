/*
 * The floor for a monitor that asks the kernel once a second: wake from
 * select() on the terminal, then one RTM_GETSTATS request for one index's
 * 64-bit link counters and its answer.  Usage: query IFINDEX
 */
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>

int main(int argc, char **argv)
{
	static char answer[65536];
	int s = socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE);

	if (argc < 2 || s < 0)
		return 1;
	for (unsigned seq = 1;; seq++) {
		fd_set readable;
		struct timeval second = {1, 0};
		struct {
			struct nlmsghdr nh;
			struct if_stats_msg ifs;
		} req;

		FD_ZERO(&readable);
		FD_SET(0, &readable);
		if (select(1, &readable, 0, 0, &second) > 0)
			return 0;
		memset(&req, 0, sizeof req);
		req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.ifs);
		req.nh.nlmsg_type = RTM_GETSTATS;
		req.nh.nlmsg_flags = NLM_F_REQUEST;
		req.nh.nlmsg_seq = seq;
		req.ifs.ifindex = atoi(argv[1]);
		req.ifs.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
		send(s, &req, req.nh.nlmsg_len, 0);
		recv(s, answer, sizeof answer, 0);
	}
}
