/*
 * Signals only note their number.  The six termination signals stay blocked
 * except while the process waits for input (pselect), so the orderly exit
 * always runs on the main flow, never inside stdio or curses, and exactly
 * once.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "main/main.h"

static state initial_state()
{
	state s{};

	s.if_sock = -1;
	s.capture = -1;
	s.host_pattern = "";
	return s;
}

state st = initial_state();

static const int term_list[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2};
static sigset_t term_set;	/* the six, blocked outside the waits */
static sigset_t wait_mask;	/* the mask while waiting: the six let through */
static volatile sig_atomic_t pending_signal;

static void note_signal(int sig)
{
	if (!pending_signal)
		pending_signal = sig;
}

static void fill_term_set()
{
	sigemptyset(&term_set);
	for (int sig : term_list)
		sigaddset(&term_set, sig);
}

void install_signals()
{
	struct sigaction sa{};

	fill_term_set();
	sigprocmask(SIG_BLOCK, &term_set, &wait_mask);
	for (int sig : term_list)
		sigdelset(&wait_mask, sig);
	/* no SA_RESTART: a signal must end the wait it interrupts */
	sa.sa_handler = note_signal;
	sigemptyset(&sa.sa_mask);
	for (int sig : term_list)
		sigaction(sig, &sa, nullptr);
}

/* In the capture child before it runs the program: default actions, unblocked. */
void child_signals()
{
	struct sigaction sa{};

	sa.sa_handler = SIG_DFL;
	sigemptyset(&sa.sa_mask);
	for (int sig : term_list)
		sigaction(sig, &sa, nullptr);
	sigprocmask(SIG_UNBLOCK, &term_set, nullptr);
}

int wait_input(int nfds, fd_set *readable, int seconds)
{
	timespec timeout = {seconds, 0};
	int n = pselect(nfds, readable, nullptr, nullptr, &timeout, &wait_mask);

	if (pending_signal)
		cleanup_exit(pending_signal);
	return n;
}

void cleanup_exit(int status)
{
	fill_term_set();
	sigprocmask(SIG_BLOCK, &term_set, nullptr);

	if (st.capture >= 0) {
		close(st.capture);
		st.capture = -1;
	}
	if (st.child_pid > 0) {
		kill(st.child_pid, SIGTERM);
		while (wait4(st.child_pid, nullptr, 0, nullptr) < 0 && errno == EINTR)
			;
		st.child_pid = 0;
	}
	if (st.curses_active) {
		endwin();
		st.curses_active = 0;
	}
	/* only a lock file that this process wrote: another monitor may own it */
	if (st.background && st.lock_written)
		unlink(st.lockpath);
	exit(status);
}

/* A failed system call while running: the screen goes first, or the message is lost with it. */
void fatal_perror(const char *what)
{
	int saved = errno;

	if (st.curses_active) {
		endwin();
		st.curses_active = 0;
	}
	errno = saved;
	perror(what);
	cleanup_exit(1);
}
