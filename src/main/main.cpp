#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "capture/capture.h"
#include "daemon/daemon.h"
#include "ifstat/ifstat.h"
#include "lines/lines.h"
#include "main/main.h"
#include "screen/screen.h"

/* The sources of the one wait, each at its place; a source that is closed is -1, and ignored. */
enum source { S_KEYS, S_CAPTURE, S_CAPERR, S_NOTICE, S_LOOKUP, S_WATCHER, NSOURCES };

/*
 * The interface taken in the overview, followed from now as if started
 * with -i: the screen, the sampler and the capture on it.  The lock file
 * keeps its name: it names the instance, not what it shows.
 */
static void switch_interface(const char *expr)
{
	bool same = strncmp(st.switch_to, st.ifname, IFNAME_SIZE) == 0;

	if (!same)
		memcpy(st.ifname, st.switch_to, IFNAME_SIZE);
	st.switch_to[0] = '\0';
	if (same)
		return;
	screen_switch(st.ifname);
	if_switch(st.ifname);
	capture_switch(st.ifname, expr);
}

/*
 * The one wait: keys, capture output and messages, the kernel's
 * announcements and a pending host name look-up, until the next sample or
 * time-out is due.  Keys come first in every pass.  Once the capture program has ended its
 * descriptor is gone from the wait, so the loop still sleeps.
 */
[[noreturn]] static void main_loop(const char *ifname, const char *expr)
{
	for (;;) {
		pollfd fds[NSOURCES + 1] = {
			{0, POLLIN, 0},
			{st.capture, POLLIN, 0},
			{st.cap_err, POLLIN, 0},
			{st.notice_fd, POLLIN, 0},
			{st.lookup_fd, POLLIN, 0},
			{st.watcher_fd, POLLIN, 0},
		};
		int64_t due = std::min({if_next_due(), capture_next_due(), screen_next_due()});
		if (wait_input(fds, NSOURCES, due - pf_mono_ns()) > 0) {
			if (ready(fds[S_KEYS]))
				handle_key();
			if (ready(fds[S_CAPTURE]) && st.capture >= 0)
				read_capture(ifname);
			if (ready(fds[S_CAPERR]) && st.cap_err >= 0)
				read_capture_errors();
			if (ready(fds[S_NOTICE]))
				if_notice(ifname);
			if (ready(fds[S_LOOKUP]) && st.lookup_fd >= 0)
				lookup_read();
			if (ready(fds[S_WATCHER]) && st.watcher_fd >= 0)
				watcher_gone();
		}
		if (resize_pending)
			screen_resize(ifname);
		if (continued) {
			if_resume(ifname);
			screen_continue();
		}
		if (st.switch_to[0])
			switch_interface(expr);
		if_update(ifname);
		capture_follow(ifname, expr);
		screen_tick();
	}
}

/*
 * Lines of figures: the kernel's announcements and the sampling grid, no
 * terminal, no capture, no look-up.  A line is due after every interval's
 * worth of samples.
 */
[[noreturn]] static void text_loop(const char *ifname)
{
	for (;;) {
		pollfd fds[2] = {{st.notice_fd, POLLIN, 0}};
		if (wait_input(fds, 1, if_next_due() - pf_mono_ns()) > 0 && ready(fds[0]))
			if_notice(ifname);
		if (continued) {
			continued = 0;
			if (if_resume(ifname))
				text_sample(st.rec, ifname);
		}
		if (if_update(ifname))
			text_sample(st.rec, ifname);
	}
}

/* Lines of several interfaces: the table's grid alone, nothing to wait for but the time. */
[[noreturn]] static void table_loop()
{
	for (;;) {
		pollfd none[1];
		wait_input(none, 0, st.next_sample - pf_mono_ns());
		if (continued) {
			continued = 0;
			if (table_update(true))
				table_lines();
		}
		if (table_update(false))
			table_lines();
	}
}

/*
 * A starter that closed 0, 1 or 2 (a cron-like launcher, a daemon's child)
 * would have the next file we open land there: a lock file on 2 is closed
 * by the move onto the terminal, and its lock with it.  /dev/null fills
 * each gap first.
 */
static void fill_std_descriptors()
{
	for (int fd = 0; fd <= 2; fd++) {
		/* the lowest free number, which is this one: those below are open */
		if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) < 0) {
			perror("/dev/null");
			exit(1);
		}
	}
}

int main(int argc, char **argv)
{
	const char *ifname;
	const char *expr;
	const char *why = "";

	fill_std_descriptors();
	/* whatever the starter left: children must be reaped, a write to a closed pipe must fail */
	reset_signals();
	st.argv = argv;
	switch (parse_options(argc, argv, &st, &ifname, &expr, &why)) {
	case OPT_USAGE:
		usage();
	case OPT_NEED_TTY:
		fputs("-b option needs both -t and -r!\n", stderr);
		exit(1);
	case OPT_REFUSED:
		fprintf(stderr, "%s\n", why);
		exit(1);
	case OPT_OK:
		break;
	}
	/* nothing of the text mode is privileged */
	if (st.out != OUT_SCREEN) {
		install_signals();
		/* ^Z stops it as any filter; a reader that went makes a write fail */
		signal(SIGTSTP, SIG_DFL);
		signal(SIGPIPE, SIG_IGN);
		if (st.all || st.nnames > 1) {
			table_start();
			text_start(ifname);
			table_loop();
		}
		if_init(ifname);
		text_start(ifname);
		text_loop(ifname);
	}
	if (getuid() != 0) {
		fputs("You must be superuser (root) to run this program\n", stderr);
		exit(1);
	}
	/* the name followed, which a switch in the overview changes */
	snprintf(st.ifname, sizeof st.ifname, "%s", ifname);
	ifname = st.ifname;
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
	/* every step that can fail is behind us: a background starter may report success */
	if (st.background)
		daemon_ready();
	main_loop(ifname, expr);
}
