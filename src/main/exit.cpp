/*
 * Signals and the orderly exit.
 *
 * A handler only notes the signal and writes a byte into a pipe that every
 * wait of the program polls, so a signal ends any wait at once however
 * many descriptors are ready, and one that arrives between two waits makes
 * the next one return.  Handlers are installed without SA_RESTART, so a
 * blocking system call elsewhere (a kernel query) returns EINTR and its
 * caller looks at the note.  The exit itself always runs on the main flow.
 *
 * One wait cannot be broken that way: curses retries a terminal write that
 * a signal interrupts, so a terminal that stops reading (Scroll Lock, a pty
 * nobody reads) would hold the exit for ever.  The first signal therefore
 * arms an alarm; if the exit has not got past the terminal a second later,
 * the alarm points standard output and error at /dev/null, the write
 * completes there, and the exit goes on.
 */
#include <cerrno>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "daemon/daemon.h"
#include "main/main.h"
#include "screen/screen.h"

static state initial_state()
{
	state s{};

	s.if_sock = -1;
	s.capture = -1;
	s.cap_err = -1;
	s.lock_fd = -1;
	s.notice_fd = -1;
	s.watcher_fd = -1;
	s.lookup_fd = -1;
	s.host_pattern = "";
	return s;
}

state st = initial_state();

/* The six whose number is the exit status; every other ending signal ends us by itself. */
static const int status_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2};
/* Faults: returning from the handler would only fault again. */
static const int fault_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT};

constexpr int WATCHDOG_SECONDS = 1;
constexpr int CHILD_GRACE_MS = 2000;	/* SIGTERM, then this long, then SIGKILL */

static volatile sig_atomic_t pending_signal;
static volatile sig_atomic_t exiting;
volatile sig_atomic_t resize_pending;
volatile sig_atomic_t continued;
static int wake_pipe[2] = {-1, -1};

/* NSIG is 32 on FreeBSD, whose real-time signals run on to SIGRTMAX. */
static int last_signal()
{
	int last = NSIG - 1;
#ifdef SIGRTMAX
	if (SIGRTMAX > last)
		last = SIGRTMAX;
#endif
	return last;
}

static bool in_list(int sig, const int *list, size_t n)
{
	for (size_t i = 0; i < n; i++)
		if (list[i] == sig)
			return true;
	return false;
}

/* Signals whose default action does not end a process. */
static bool harmless(int sig)
{
	switch (sig) {
	case SIGCHLD:
	case SIGCONT:
	case SIGTSTP:
	case SIGTTIN:
	case SIGTTOU:
	case SIGURG:
	case SIGWINCH:
	case SIGKILL:
	case SIGSTOP:
#ifdef SIGINFO
	case SIGINFO:
#endif
#ifdef SIGTHR
	case SIGTHR:
#endif
#ifdef SIGLIBRT
	case SIGLIBRT:
#endif
#ifdef __FreeBSD__
	case SIGIO:
#endif
		return true;
	default:
		return false;
	}
}

static void wake()
{
	int saved = errno;

	if (wake_pipe[1] >= 0)
		(void)!write(wake_pipe[1], "", 1);
	errno = saved;
}

/* The terminal has stopped taking output: let the pending writes go nowhere. */
static void unstick_output()
{
	int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);

	if (fd >= 0) {
		dup2(fd, 1);
		dup2(fd, 2);
		close(fd);
	}
}

static void note_signal(int sig, siginfo_t *si, void *)
{
	if (sig == SIGWINCH) {
		resize_pending = 1;
	} else if (sig == SIGCONT) {
		continued = 1;
	} else if (pending_signal || exiting) {
		if (sig == SIGALRM)
			unstick_output();
	} else {
		/*
		 * SIGPIPE from our own failed write: the other end hung up.  The
		 * kernel raises it as SI_KERNEL (FreeBSD) or as if we had sent
		 * it ourselves (Linux); a kill from elsewhere names its sender.
		 */
		if (sig == SIGPIPE && si &&
		    (si->si_code == SI_KERNEL || (si->si_code == SI_USER && si->si_pid == getpid())))
			sig = SIGHUP;
		pending_signal = sig;
		alarm(WATCHDOG_SECONDS);
	}
	wake();
}

static bool lock_is_ours()
{
	return st.lock_fd >= 0 && same_file(st.lock_fd, st.lockpath);
}

/*
 * A fault cannot wait for the main flow.  Only async-signal-safe calls:
 * the child goes, the terminal gets its modes back, our lock file goes,
 * and the fault ends the process as it would have.
 */
static void fault(int sig)
{
	if (st.watcher_pid > 0)
		kill(st.watcher_pid, SIGKILL);
	if (st.child_pid > 0)
		kill(st.child_pid, SIGKILL);
	/* what curses would send at its end: off the alternate screen, the cursor back */
	if (st.curses_active)
		(void)!write(1, st.end_seq, st.end_len);
	if (st.tty_saved)
		tcsetattr(0, TCSANOW, &st.tty_modes);
	if (lock_is_ours())
		unlink(st.lockpath);
	signal(sig, SIG_DFL);
	raise(sig);
}

void install_signals()
{
	struct sigaction sa{};
	sigset_t all;

	if (pipe(wake_pipe) == 0) {
		for (int fd : wake_pipe) {
			fcntl(fd, F_SETFD, FD_CLOEXEC);
			fcntl(fd, F_SETFL, O_NONBLOCK);
		}
	}
	sigemptyset(&sa.sa_mask);
	for (int sig = 1; sig <= last_signal(); sig++) {
		if (harmless(sig) && sig != SIGWINCH && sig != SIGCONT)
			continue;
		if (in_list(sig, fault_signals, std::size(fault_signals))) {
			sa.sa_handler = fault;
			sa.sa_flags = SA_RESETHAND;
		} else {
			sa.sa_sigaction = note_signal;
			/* no SA_RESTART: a terminating signal must end the call it interrupts */
			sa.sa_flags = SA_SIGINFO | (harmless(sig) ? SA_RESTART : 0);
		}
		sigaction(sig, &sa, nullptr);	/* some are the C library's own: fails */
	}
	/* Curses would catch SIGTSTP around every refresh; a monitor in raw mode has no use for it. */
	signal(SIGTSTP, SIG_IGN);
	sigfillset(&all);
	sigprocmask(SIG_UNBLOCK, &all, nullptr);
}

/* Dispositions and mask as the system has them, for ourselves at start. */
void reset_signals()
{
	sigset_t none;

	signal(SIGCHLD, SIG_DFL);
	signal(SIGPIPE, SIG_DFL);
	sigemptyset(&none);
	sigprocmask(SIG_SETMASK, &none, nullptr);
}

/* In a child before it runs another program: every signal as the system has it. */
void child_signals()
{
	struct sigaction sa{};
	sigset_t all;

	sa.sa_handler = SIG_DFL;
	sigemptyset(&sa.sa_mask);
	for (int sig = 1; sig <= last_signal(); sig++)
		if (sig != SIGKILL && sig != SIGSTOP)
			sigaction(sig, &sa, nullptr);
	sigemptyset(&all);
	sigprocmask(SIG_SETMASK, &all, nullptr);
}

void check_signal()
{
	if (pending_signal)
		cleanup_exit(pending_signal);
}

int wait_input(pollfd *fds, int n, int64_t timeout_ns)
{
	if (timeout_ns < 0)
		timeout_ns = 0;
	timespec timeout = {static_cast<time_t>(timeout_ns / SECOND), static_cast<long>(timeout_ns % SECOND)};

	/* poll, not select: any descriptor number will do, however many a starter left open */
	fds[n] = {wake_pipe[0], POLLIN, 0};
	int r = ppoll(fds, n + 1, &timeout, nullptr);
	if (r < 0 && errno != EINTR)
		fatal_perror("ERROR, wait for input");	/* it would fail again at once, for ever */
	if (r > 0 && fds[n].revents) {
		char drain[64];
		while (read(wake_pipe[0], drain, sizeof drain) > 0)
			;
		r--;
	}
	check_signal();
	return r < 0 ? 0 : r;
}

bool ready(const pollfd &p)
{
	/* a hangup or an error is read as such by whoever reads the descriptor */
	return p.fd >= 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
}

/* The terminal is gone (end of file, an error): a hangup, status 1 as for SIGHUP. */
void hangup()
{
	check_signal();
	cleanup_exit(1);
}

/*
 * SIGTERM and SIGCONT (a stopped child would never see the first), then a
 * bounded wait, then SIGKILL: the exit never hangs on the child.
 */
void end_child(pid_t *pid)
{
	if (*pid <= 0)
		return;
	kill(*pid, SIGTERM);
	kill(*pid, SIGCONT);
	for (int ms = 0; ms < CHILD_GRACE_MS; ms += 10) {
		pid_t r = waitpid(*pid, nullptr, WNOHANG);
		if (r == *pid || (r < 0 && errno != EINTR)) {
			*pid = 0;
			return;
		}
		timespec tick = {0, 10 * 1000 * 1000};
		nanosleep(&tick, nullptr);
	}
	kill(*pid, SIGKILL);
	while (waitpid(*pid, nullptr, 0) < 0 && errno == EINTR)
		;
	*pid = 0;
}

void cleanup_exit(int status)
{
	exiting = 1;
	/* the main flow got here: nothing is stuck now, until the terminal below */
	alarm(0);

	if (st.capture >= 0) {
		close(st.capture);
		st.capture = -1;
	}
	end_child(&st.child_pid);
	end_child(&st.watcher_pid);
	if (st.curses_active) {
		alarm(WATCHDOG_SECONDS);
		screen_end();
		alarm(0);
		st.curses_active = 0;
	}
	/* endwin gave up if its output was sent away; the modes come back regardless */
	if (st.tty_saved) {
		tcsetattr(0, TCSANOW, &st.tty_modes);
		st.tty_saved = 0;
	}
	/*
	 * Standard error is still the background starter's, which waits for
	 * our word; of another signal, raised below, it learns by itself.
	 */
	int sig = pending_signal;
	if (st.background && !st.start_reported && in_list(sig, status_signals, std::size(status_signals)))
		fprintf(stderr, "ERROR, background monitor ended by signal %d before it ran, terminating!\n",
			sig);
	/* only a lock file that this process holds: another monitor may own the path now */
	if (lock_is_ours())
		unlink(st.lockpath);

	if (sig && status == sig && !in_list(sig, status_signals, std::size(status_signals))) {
		/* the parent must see what ended us */
		fflush(nullptr);
		signal(sig, SIG_DFL);
		sigset_t one;
		sigemptyset(&one);
		sigaddset(&one, sig);
		sigprocmask(SIG_UNBLOCK, &one, nullptr);
		raise(sig);
		_exit(128 + sig);
	}
	exit(status);
}

/* A failed system call while running: the screen goes first, or the message is lost with it. */
void fatal_perror(const char *what)
{
	int saved = errno;

	check_signal();
	if (st.curses_active) {
		screen_end();
		st.curses_active = 0;
	}
	errno = saved;
	perror(what);
	cleanup_exit(1);
}
