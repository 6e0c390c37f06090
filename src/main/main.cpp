#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "capture/capture.h"
#include "daemon/daemon.h"
#include "ifstat/ifstat.h"
#include "main/main.h"
#include "screen/screen.h"

/*
 * Sleeps until a key or capture output arrives, or a second has passed; the
 * sampler itself decides whether a full second is up.  Once the capture
 * program has ended its descriptor is gone from the set, so the loop still
 * sleeps.
 */
[[noreturn]] static void main_loop(const char *ifname, const char *expr)
{
	for (;;) {
		fd_set readable;
		int nfds = 1;

		FD_ZERO(&readable);
		FD_SET(0, &readable);
		if (st.capture >= 0) {
			FD_SET(st.capture, &readable);
			nfds = st.capture + 1;
		}
		if (wait_input(nfds, &readable, 1) > 0) {
			if (FD_ISSET(0, &readable))
				handle_key();
			if (st.capture >= 0 && FD_ISSET(st.capture, &readable))
				read_capture(ifname);
		}
		if (resize_pending)
			screen_resize(ifname);
		if_update(ifname);
		capture_follow(ifname, expr);
	}
}

int main(int argc, char **argv)
{
	const char *ifname;
	const char *expr;

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
