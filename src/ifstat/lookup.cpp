/*
 * The host name of the interface's address, looked up in a child process
 * whose pipe is one more source of the main loop's wait: keys, figures and
 * capture lines never wait for a resolver.  A look-up that outlasts its
 * limit (a name server that never answers, a stopped child) is given up;
 * a name that is not found is asked again once a minute; a look-up that
 * could not run (no process or descriptor to be had, the child killed) is
 * tried again after next_backoff's pause.
 */
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ifstat/ifstat.h"
#include "main/main.h"
#include "screen/screen.h"

constexpr int64_t LOOKUP_LIMIT = 10 * SECOND;
constexpr int64_t UNKNOWN_RETRY = 60 * SECOND;

static const char unknown_host[] = "unknown hostname";

static void set_host(const char *name)
{
	if (name) {
		snprintf(st.host_name, sizeof st.host_name, "%s", name);
		st.host_pattern = st.host_name;
	} else {
		st.host_pattern = unknown_host;
	}
	st.host_changed = true;
}

/* Closes the pipe and reaps the child; its wait status. */
static int lookup_end(bool kill_it)
{
	int status = 0;

	close(st.lookup_fd);
	st.lookup_fd = -1;
	if (kill_it)
		kill(st.lookup_pid, SIGKILL);
	while (waitpid(st.lookup_pid, &status, 0) < 0 && errno == EINTR)
		;
	st.lookup_pid = 0;
	return status;
}

/* The look-up could not run: unknown for now, and again after a pause. */
static void lookup_failed(int64_t now, int err)
{
	st.lookup_backoff = next_backoff(st.lookup_backoff);
	set_host(nullptr);
	if (err && st.curses_active)
		pane_note_error("name look-up", err, st.lookup_backoff);
	st.lookup_retry = now + st.lookup_backoff * SECOND;
}

void lookup_start(int64_t now)
{
	in_addr a;
	int fd;

	st.lookup_retry = 0;
	if (inet_pton(AF_INET, st.last_addr, &a) != 1)
		return;
	pid_t pid = pf_lookup(a, &fd, st.argv);
	if (pid < 0) {
		lookup_failed(now, errno);
		return;
	}
	st.lookup_pid = pid;
	st.lookup_fd = fd;
	st.lookup_len = 0;
	st.lookup_deadline = now + LOOKUP_LIMIT;
}

void lookup_cancel()
{
	if (st.lookup_pid > 0)
		lookup_end(true);
	st.lookup_retry = 0;
	st.lookup_backoff = 0;
}

void lookup_read()
{
	for (;;) {
		ssize_t n = read(st.lookup_fd, st.lookup_buf + st.lookup_len,
				 sizeof st.lookup_buf - 1 - st.lookup_len);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0 && errno == EAGAIN)
			return;
		if (n <= 0)
			break;
		st.lookup_len += n;
		if (st.lookup_len == sizeof st.lookup_buf - 1)
			break;
	}
	/* the end of the answer */
	int status = lookup_end(false);
	int64_t now = pf_mono_ns();
	if (st.lookup_len > 0) {
		st.lookup_buf[st.lookup_len] = '\0';
		set_host(st.lookup_buf);
		st.lookup_backoff = 0;
	} else if (WIFSIGNALED(status)) {
		/* killed by somebody else: it never answered */
		lookup_failed(now, 0);
	} else {
		set_host(nullptr);
		st.lookup_retry = now + UNKNOWN_RETRY;
		st.lookup_backoff = 0;
	}
}

void lookup_tick(int64_t now)
{
	/* an answer may have come while the loop was held up (the menu): take it first */
	if (st.lookup_pid > 0 && now >= st.lookup_deadline)
		lookup_read();
	if (st.lookup_pid > 0 && now >= st.lookup_deadline) {
		lookup_end(true);
		set_host(nullptr);
		st.lookup_retry = now + UNKNOWN_RETRY;
	} else if (st.lookup_pid == 0 && st.lookup_retry && now >= st.lookup_retry) {
		lookup_start(now);
	}
}

int64_t lookup_due()
{
	if (st.lookup_pid > 0)
		return st.lookup_deadline;
	return st.lookup_retry ? st.lookup_retry : INT64_MAX;
}
