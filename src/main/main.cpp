#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "capture/capture.h"
#include "daemon/daemon.h"
#include "ifstat/ifstat.h"
#include "main/main.h"
#include "screen/screen.h"

static void watch(fd_set *set, int *nfds, int fd)
{
	if (fd < 0)
		return;
	FD_SET(fd, set);
	if (fd >= *nfds)
		*nfds = fd + 1;
}

/*
 * The one wait: keys, capture output, the kernel's announcements and a
 * pending host name look-up, until the next sample or time-out is due.
 * Keys come first in every pass.  Once the capture program has ended its
 * descriptor is gone from the set, so the loop still sleeps.
 */
[[noreturn]] static void main_loop(const char *ifname, const char *expr)
{
	for (;;) {
		fd_set readable;
		int nfds = 0;

		FD_ZERO(&readable);
		watch(&readable, &nfds, 0);
		watch(&readable, &nfds, st.capture);
		watch(&readable, &nfds, st.notice_fd);
		watch(&readable, &nfds, st.lookup_fd);
		watch(&readable, &nfds, st.watcher_fd);
		int64_t due = std::min(if_next_due(), capture_next_due());
		if (wait_input(nfds, &readable, due - pf_mono_ns()) > 0) {
			if (FD_ISSET(0, &readable))
				handle_key();
			if (st.capture >= 0 && FD_ISSET(st.capture, &readable))
				read_capture(ifname);
			if (st.notice_fd >= 0 && FD_ISSET(st.notice_fd, &readable))
				if_notice(ifname);
			if (st.lookup_fd >= 0 && FD_ISSET(st.lookup_fd, &readable))
				lookup_read();
			if (st.watcher_fd >= 0 && FD_ISSET(st.watcher_fd, &readable))
				watcher_gone();
		}
		if (resize_pending)
			screen_resize(ifname);
		if (continued)
			screen_continue();
		if_update(ifname);
		capture_follow(ifname, expr);
	}
}

int main(int argc, char **argv)
{
	const char *ifname;
	const char *expr;

	/* whatever the starter left: children must be reaped, a write to a closed pipe must fail */
	reset_signals();
	st.argv = argv;
	switch (parse_options(argc, argv, &st, &ifname, &expr)) {
	case OPT_USAGE:
		usage();
	case OPT_NEED_TTY:
		fputs("-b option needs both -t and -r!\n", stderr);
		exit(1);
	case OPT_OK:
		break;
	}
	if (getuid() != 0) {
		fputs("You must be superuser (root) to run this program\n", stderr);
		exit(1);
	}
	make_lockpath(st.lockpath, sizeof st.lockpath, ifname);
	if (st.background) {
		check_lockfile(st.lockpath);
		daemonize();
		write_lockfile(st.lockpath);
	}
	install_signals();
	if_init(ifname);
	screen_init(ifname);
	st.capture = mpopen(ifname, expr);
	if (st.capture < 0)
		fatal_perror("mpopen");
	st.capture_gen = st.if_gen;
	main_loop(ifname, expr);
}
