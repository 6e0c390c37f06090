#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture/capture.h"
#include "ifstat/ifstat.h"
#include "main/main.h"
#include "screen/screen.h"

/*
 * Never a search of PATH: we run as root.  A build may fix the path (a
 * packager's choice, or a scripted stand-in for the tests).
 */
static const char *capture_program()
{
#ifdef RAVLET_CAPTURE_PROGRAM
	return RAVLET_CAPTURE_PROGRAM;
#else
	for (const char *const *p = pf_capture_programs; *p; p++)
		if (access(*p, X_OK) == 0)
			return *p;
	return pf_capture_programs[0];
#endif
}

/*
 * The kernel's parent-death signal is forgotten when a program changes its
 * user, and Debian's tcpdump gives up root for its own user as soon as the
 * interface is open.  So a watcher holds one end of a socket pair and
 * learns from it the pid of each capture child: when the other end closes,
 * we are gone, and it kills the last one named.  Killed by a signal itself
 * (our orderly exit sends SIGTERM), it does nothing.  A socket, not a pipe:
 * a write to a watcher that has gone fails (MSG_NOSIGNAL) instead of
 * raising SIGPIPE, and our end turns readable when it goes, so that the
 * main loop notices and starts another.
 */
static void start_watcher()
{
	int sv[2];

	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) < 0)
		return;
	pid_t pid = fork();
	if (pid < 0) {
		close(sv[0]);
		close(sv[1]);
		return;
	}
	if (pid == 0) {
		child_signals();
		/* a key's signal to the terminal's process group is not for us */
		signal(SIGHUP, SIG_IGN);
		signal(SIGINT, SIG_IGN);
		signal(SIGQUIT, SIG_IGN);
		pf_set_name(st.argv, "ravlet-watcher");
		int fd = pf_child_fds(sv[1]);
		pid_t target = 0, p;
		ssize_t n;
		while ((n = read(fd, &p, sizeof p)) == sizeof p || (n < 0 && errno == EINTR))
			if (n > 0)
				target = p;
		if (target > 0)
			kill(target, SIGKILL);
		_exit(0);
	}
	close(sv[1]);
	fcntl(sv[0], F_SETFL, O_NONBLOCK);
	st.watcher_fd = sv[0];
	st.watcher_pid = pid;
	if (st.child_pid > 0)
		watch_child(st.child_pid);
}

/* The capture child the watcher must kill if we die; 0 once it is reaped. */
void watch_child(pid_t pid)
{
	if (st.watcher_fd >= 0)
		(void)!send(st.watcher_fd, &pid, sizeof pid, MSG_NOSIGNAL);
}

/* Our end of the watcher's socket is readable: it never writes, so it has gone. */
void watcher_gone()
{
	char c;

	if (recv(st.watcher_fd, &c, 1, MSG_DONTWAIT) < 0 && (errno == EAGAIN || errno == EINTR))
		return;
	close(st.watcher_fd);
	st.watcher_fd = -1;
	while (waitpid(st.watcher_pid, nullptr, 0) < 0 && errno == EINTR)
		;
	st.watcher_pid = 0;
	start_watcher();
}

/* Both ends of a pipe, the reading end ours alone (close-on-exec) and never blocking. */
static int reading_pipe(int fd[2])
{
	if (pipe(fd) < 0)
		return -1;
	fcntl(fd[0], F_SETFD, FD_CLOEXEC);
	fcntl(fd[0], F_SETFL, fcntl(fd[0], F_GETFL) | O_NONBLOCK);
	return 0;
}

static void close_pipe(int fd[2])
{
	int saved = errno;

	close(fd[0]);
	close(fd[1]);
	errno = saved;
}

/*
 * Starts the capture program with its output on a pipe and returns the
 * pipe's reading end, non-blocking, or -1 with errno set.  Its messages go
 * to a pipe of ours (st.cap_err), never to the terminal: the last of them
 * says why it ended.  A program that cannot be run leaves its reason in
 * st.capture_errno, and the pipe at its end.  The program gets our terminal
 * as its standard input, and no other descriptor of ours or of whoever
 * started us; the watcher (or, where it keeps root, the kernel's
 * parent-death signal) ends it if we die without our orderly exit.
 */
int mpopen(const char *ifname, const char *expr)
{
	const char *prog = capture_program();
	char *argv[] = {const_cast<char *>("tcpdump"), const_cast<char *>("-li"),
			const_cast<char *>(ifname), const_cast<char *>(expr), nullptr};
	pid_t parent = getpid();
	int fd[2], err[2], exec_report[2];

	if (st.watcher_fd < 0)
		start_watcher();
	if (reading_pipe(fd) < 0)
		return -1;
	if (reading_pipe(err) < 0) {
		close_pipe(fd);
		return -1;
	}
	/* closed by a successful exec; a failed one writes its errno there */
	if (pipe(exec_report) < 0) {
		close_pipe(fd);
		close_pipe(err);
		return -1;
	}
	fcntl(exec_report[0], F_SETFD, FD_CLOEXEC);
	pid_t pid = vfork();
	if (pid < 0) {
		close_pipe(fd);
		close_pipe(err);
		close_pipe(exec_report);
		return -1;
	}
	if (pid == 0) {
		child_signals();
		if (pf_die_with_parent(parent) < 0)
			_exit(127);
		dup2(fd[1], 1);
		dup2(err[1], 2);
		dup2(exec_report[1], 3);
		fcntl(3, F_SETFD, FD_CLOEXEC);
		closefrom(4);
		execv(prog, argv);
		int e = errno;
		(void)!write(3, &e, sizeof e);
		_exit(127);
	}
	/* vfork returns once the child has run the program or given up */
	close(fd[1]);
	close(err[1]);
	close(exec_report[1]);
	if (read(exec_report[0], &st.capture_errno, sizeof st.capture_errno) !=
	    static_cast<ssize_t>(sizeof st.capture_errno))
		st.capture_errno = 0;
	close(exec_report[0]);
	st.capture_path = prog;
	st.child_pid = pid;
	watch_child(pid);
	st.cap_len = 0;
	st.cap_tail = false;
	st.cap_err = err[0];
	st.err_line = last_line{};
	return fd[0];
}

/* The capture program's messages: kept only as far as the last line. */
void read_capture_errors()
{
	char buf[4096];
	ssize_t n;

	while ((n = read(st.cap_err, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
		if (n > 0)
			keep_last_line(&st.err_line, std::string_view(buf, n));
	if (n == 0) {
		close(st.cap_err);
		st.cap_err = -1;
	}
}

/*
 * "[tcpdump has ended: WHY]" in at most cols columns: the reason in its
 * visible form, cut by columns so that the bracket still closes.
 */
void end_note(std::string_view why, int cols, char out[SHOWN_SIZE])
{
	constexpr std::string_view head = "[tcpdump has ended: ";
	size_t n = head.size();

	memcpy(out, head.data(), n);
	visible_text(why, std::max(cols - static_cast<int>(n) - 1, 0), out + n, SHOWN_SIZE - n - 1);
	n += strlen(out + n);
	out[n] = ']';
	out[n + 1] = '\0';
}

/*
 * Why the capture program ended, in one line of the pane: it could not be
 * run; or the interface went away or down, and it starts again when the
 * interface comes back; or a signal ended it (the OOM killer, kill -9),
 * whose number says more than its last message, its start-up banner; or,
 * for an exit that says it failed, its own last message (an expression it
 * rejected, say).  It is not started again while the interface stays as it
 * is.
 */
static void note_end(const char *ifname, int status)
{
	if (st.capture_errno) {
		pane_note("[tcpdump could not be run: %s: %s]", st.capture_path,
			  strerror(st.capture_errno));
	} else if (!st.if_up) {
		pane_note("[tcpdump has ended; it starts again when %s comes back]", ifname);
	} else if (WIFSIGNALED(status)) {
		pane_note("[tcpdump has ended by signal %d: %s]", WTERMSIG(status),
			  strsignal(WTERMSIG(status)));
	} else if (st.err_line.len > 0 && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
		char note[SHOWN_SIZE];
		end_note(std::string_view(st.err_line.text, st.err_line.len), pane_cols() - 1, note);
		pane_note("%s", note);
	} else {
		pane_note("[tcpdump has ended]");
	}
}

/*
 * The capture program has closed its output: collect it, at once if it
 * has ended, with its last messages; the interface is looked at afresh to
 * tell why it ended.
 */
void reap_capture(const char *ifname)
{
	int status = 0;

	if (st.child_pid <= 0 || waitpid(st.child_pid, &status, WNOHANG) != st.child_pid)
		return;
	st.child_pid = 0;
	watch_child(0);
	if (st.cap_err >= 0) {
		read_capture_errors();	/* what it wrote last, up to its end */
		if (st.cap_err >= 0)
			close(st.cap_err);
		st.cap_err = -1;
	}
	if_refresh(ifname);
	note_end(ifname, status);
}

int64_t capture_next_due()
{
	return st.capture_retry ? st.capture_retry : INT64_MAX;
}

/* A start that failed (no process to be had): said in the pane, and tried again after a pause. */
static void start_failed()
{
	st.capture_backoff = next_backoff(st.capture_backoff);
	pane_note_error("tcpdump", errno, st.capture_backoff);
	st.capture_retry = pf_mono_ns() + st.capture_backoff * SECOND;
}

/*
 * After each pass: an ended capture program starts again once the
 * interface has come back (deleted and made again, renamed back, returned
 * from another namespace, or there for the first time).  A start that
 * fails (no process to be had) is tried again after 1 s, 2, 4, ... 60.
 */
void capture_follow(const char *ifname, const char *expr)
{
	if (st.capture < 0 && st.child_pid > 0)
		reap_capture(ifname);
	if (st.child_pid != 0 || !st.if_up)
		return;
	if (st.capture_retry ? pf_mono_ns() < st.capture_retry : st.if_gen == st.capture_gen)
		return;
	st.capture_gen = st.if_gen;
	st.capture = mpopen(ifname, expr);
	if (st.capture >= 0) {
		st.capture_retry = 0;
		st.capture_backoff = 0;
		if (!st.capture_errno)
			pane_note("[tcpdump started again on %s]", ifname);
		return;
	}
	start_failed();
}

/*
 * Another interface: the capture program ended (and reaped, within its
 * grace) and started on it with the same expression, its output and
 * messages of the one before dropped.  A start that fails is tried again
 * as after any end.
 */
void capture_switch(const char *ifname, const char *expr)
{
	if (st.capture >= 0)
		close(st.capture);
	st.capture = -1;
	end_child(&st.child_pid);
	watch_child(0);
	if (st.cap_err >= 0)
		close(st.cap_err);
	st.cap_err = -1;
	st.cap_len = 0;
	st.cap_tail = false;
	st.err_line = last_line{};
	st.capture_errno = 0;
	st.capture_retry = 0;
	st.capture_backoff = 0;
	st.capture_gen = st.if_gen;
	st.capture = mpopen(ifname, expr);
	if (st.capture < 0) {
		start_failed();
		return;
	}
	pane_note("[tcpdump started on %s]", ifname);
	pane_done();
}
