#pragma once
/*
 * The program state record, shared by every module, and the process control
 * that the other modules call: the orderly exit and the wait for input.
 */
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <curses.h>
#include <netdb.h>
#include <poll.h>
#include <sys/time.h>
#include <sys/types.h>
#include <termios.h>

#include "capture/capture.h"
#include "common.h"
#include "ifstat/ifstat.h"
#include "platform/netif.h"

constexpr int VERSION_MAJOR = 1;
constexpr int VERSION_MINOR = 4;

constexpr size_t LOCKPATH_SIZE = 1024;
constexpr size_t CONF_SIZE = 2048;	/* the configuration list we ask for */
constexpr size_t ADDR6_TEXT_SIZE = 46;	/* INET6_ADDRSTRLEN */
constexpr size_t CAPTURE_BUF_SIZE = 65536;	/* one pipe's worth of capture output */
constexpr size_t END_SEQ_SIZE = 128;
constexpr int NAMES_MAX = 64;	/* -i at most so many times */

/* The graph's history: a second's bytes in and out, or a gap. */
constexpr int GRAPH_KEEP = 512;	/* columns: the widest terminal shown whole */
struct graph_point {
	uint64_t v[2];
	bool gap;
};

struct state {
	char **argv;		/* our command line, which children rename */

	/* options and lock file */
	int background;
	const char *tty_path;
	int have_tty;
	const char *term_type;
	int have_term;
	int lock_fd;		/* the lock file, locked; -1 unless we hold it */
	int out;		/* OUT_SCREEN, or lines of text (-o) */
	int interval;		/* -w: seconds a line, with -o */
	long count;		/* -c: lines before the end, 0: no end */
	bool bits;		/* -u bits: the traffic in bits, not bytes */
	bool all;		/* -a: lines for every interface */
	int nnames;		/* -i given this many times, with -o: lines for each */
	const char *names[NAMES_MAX];	/* in name order, each once */
	bool start_reported;	/* background: the starter has heard that we run */

	/* capture child: the pipe's reading end, -1 when none or at its end */
	int capture;
	pid_t child_pid;
	pid_t watcher_pid;	/* kills the capture child if we are killed */
	int watcher_fd;		/* our end of its socket; readable when it is gone */
	size_t cap_len;		/* in cap_buf, at the end */
	int64_t capture_retry;	/* a start that failed is tried again then; 0: none */
	int capture_backoff;	/* seconds before the try after that */
	bool cap_tail;		/* inside a long line, whose later pieces are not shown */
	int cap_err;		/* its messages' pipe, -1 when none or at its end */
	int capture_errno;	/* why the program could not be run; 0: it ran */
	const char *capture_path;	/* the program run */

	/* screen */
	WINDOW *upper_win;
	WINDOW *lower_win;	/* the capture pane, kept in either view */
	WINDOW *graph_win;	/* over it: the traffic graph */
	WINDOW *details_win;	/* or the table of every counter */
	WINDOW *overview_win;	/* or every interface */
	WINDOW *help_win;	/* the keys, over everything while open */
	int lower_view;		/* what the lower part shows: VIEW_PANE, VIEW_GRAPH (-g, g),
				 * VIEW_DETAILS (-d, d), VIEW_OVERVIEW (i) */
	int overview_from;	/* the view the overview was opened over, shown again at its close */
	bool ov_by_traffic;	/* its order: by traffic, else by name */
	char switch_to[IFNAME_SIZE];	/* taken in the overview: followed from the next pass */
	char ifname[IFNAME_SIZE];	/* the interface followed, the start's until a switch */
	int64_t help_until;	/* the keys' window closes then */
	int curses_active;
	termios tty_modes;	/* the terminal's modes before curses */
	int tty_saved;
	char end_seq[END_SEQ_SIZE];	/* what curses sends at its end, for a fault */
	size_t end_len;

	/* interface lookup */
	int if_count;
	int if_sock;
	int notice_fd;		/* the kernel's announcements of changes; -1: none */
	bool conf_due;		/* read the configuration at the next pass */
	int conf_len;
	char *cur_ifr;		/* its first IPv4 entry */
	unsigned short if_flags;
	int mib_row;
	if_row ifmd;

	/* sampler; times on the monotonic clock, in nanoseconds */
	int64_t next_sample;	/* the one-second grid */
	int64_t hour_mark, minute_mark;
	uint64_t snap_hour[NCOUNTERS], snap_minute[NCOUNTERS];
	int64_t read_at;	/* when the last row was read */
	if_track trk;		/* the second's difference, averages and peaks */
	sample_rec rec;		/* the last sample, for the screen or the text mode */
	time_t chg_time, chg_prev_time;	/* wall clock, for the text */
	int64_t chg_mono;	/* when chg_time was */
	unsigned chg_count;	/* the row's count of changes at chg_time */
	bool chg_prev_shown;	/* the change before the last is shown */
	int64_t chg_prev_held;	/* how long it held, in seconds */
	char last_addr[ADDR_TEXT_SIZE];	/* the IPv4 address the name belongs to */
	const char *other_label;	/* "brc:", "dst:" or "" */
	char other_addr[ADDR_TEXT_SIZE];	/* the peer or broadcast address behind it */
	char addr6[ADDR6_TEXT_SIZE];	/* shown when there is no IPv4 address */
	const char *host_pattern;
	int64_t prev_elapsed;

	/* the host name look-up, a child process the main loop waits for */
	pid_t lookup_pid;
	int lookup_fd;
	size_t lookup_len;
	int64_t lookup_deadline;	/* given up then */
	int64_t lookup_retry;	/* asked again then; 0: not */
	int lookup_backoff;	/* seconds before the next try after a failure */
	bool host_changed;	/* the name field must be written again */

	/* the interface coming back, for the capture to follow it */
	bool if_up;		/* there and up at the last look */
	unsigned if_gen;	/* counts its returns */
	unsigned capture_gen;	/* the return the running or last capture began at */
	int seen_row;
	time_t seen_change;

	/* the graph's ring, filled at every sample in either view */
	int graph_head;		/* where the next goes */
	int graph_count;	/* how many are kept */
	graph_point graph[GRAPH_KEEP];

	/* Large buffers last: an idle second touches none of them, and the
	 * fields it does touch stay on a few pages. */
	char cap_buf[CAPTURE_BUF_SIZE];	/* capture output not yet shown: partial line */
	last_line err_line;	/* the capture program's last message */
	char lockpath[LOCKPATH_SIZE];
	alignas(8) char conf_buf[CONF_SIZE];	/* the configuration list */
	char host_name[NI_MAXHOST];
	char lookup_buf[NI_MAXHOST];	/* the look-up's answer as it comes */
};

extern state st;

enum out_mode { OUT_SCREEN, OUT_TEXT, OUT_JSON };
enum lower_view { VIEW_PANE, VIEW_GRAPH, VIEW_DETAILS, VIEW_OVERVIEW };
enum opt_result { OPT_OK, OPT_USAGE, OPT_NEED_TTY, OPT_REFUSED };
constexpr int INTERVAL_MAX = 3600;
constexpr long COUNT_MAX = 2147483647;

/* OPT_REFUSED: *why says which option and what it needs, on one line. */
opt_result parse_options(int argc, char **argv, state *s, const char **ifname,
			 const char **expr, const char **why);
bool make_lockpath(char *buf, size_t size, const char *ifname);
[[noreturn]] void usage();

void reset_signals();
void install_signals();
void child_signals();
/*
 * Waits until one of fds[0..n) is ready or a signal came, at most
 * timeout_ns; fds has room for one more entry, the signal pipe's.  The
 * number ready (0: time-out or another signal); ends the process if a
 * terminating signal came, or if the wait itself fails.
 */
int wait_input(pollfd *fds, int n, int64_t timeout_ns);
bool ready(const pollfd &p);	/* readable, at its end, or in error: to be read */
void check_signal();	/* ends the process if a terminating signal came */
extern volatile sig_atomic_t resize_pending;
extern volatile sig_atomic_t continued;	/* SIGCONT: we were stopped */
void end_child(pid_t *pid);
[[noreturn]] void hangup();
[[noreturn]] void cleanup_exit(int status);
[[noreturn]] void fatal_perror(const char *what);
