#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "main/main.h"

bool make_lockpath(char *buf, size_t size, const char *ifname)
{
	int n = snprintf(buf, size, "%s-%s%s", "/var/run/ravlet", ifname, ".pid");

	return n >= 0 && static_cast<size_t>(n) < size;
}

/*
 * The name goes into a file name under /var/run that root writes and
 * removes, and into the title line: refuse what no interface can be called
 * (empty, longer than the kernels allow, a control character) and what
 * would leave the directory, rather than cut it (two cut names could share
 * one lock file).
 */
static bool ifname_ok(const char *ifname)
{
	size_t n = strlen(ifname);

	if (n == 0 || n >= IFNAME_SIZE || strchr(ifname, '/'))
		return false;
	for (size_t i = 0; i < n; i++) {
		unsigned char c = ifname[i];
		if (c < 0x20 || c == 0x7f)
			return false;
	}
	return true;
}

/*
 * One more -i: kept in name order, each name once, for lines of several.
 * Past the most that fit, only counted, for the refusal.  False: no name.
 */
static bool add_name(state *s, const char *name)
{
	if (!ifname_ok(name))
		return false;
	int i = 0;
	while (i < s->nnames && i < NAMES_MAX && strcmp(s->names[i], name) < 0)
		i++;
	if (i < s->nnames && i < NAMES_MAX && strcmp(s->names[i], name) == 0)
		return true;
	if (s->nnames < NAMES_MAX) {
		memmove(s->names + i + 1, s->names + i, (s->nnames - i) * sizeof s->names[0]);
		s->names[i] = name;
	}
	s->nnames++;
	return true;
}

/* A whole number from 1 to most, nothing else: no sign, no space, no unit. */
static bool whole_number(const char *text, long most, long *out)
{
	long v = 0;

	if (!*text)
		return false;
	for (const char *p = text; *p; p++) {
		if (*p < '0' || *p > '9' || v > (most - (*p - '0')) / 10)
			return false;
		v = v * 10 + (*p - '0');
	}
	*out = v;
	return v >= 1;
}

/* A word that must be one of two; which, or -1. */
static int one_of(const char *word, const char *first, const char *second)
{
	return strcmp(word, first) == 0 ? 0 : strcmp(word, second) == 0 ? 1 : -1;
}

/*
 * getopt from the first word again, for every call (the tests parse many
 * command lines): glibc starts afresh at optind 0, the BSDs want optreset.
 */
static void getopt_restart()
{
#ifdef __GLIBC__
	optind = 0;
#else
	optreset = 1;
	optind = 1;
#endif
}

opt_result parse_options(int argc, char **argv, state *s, const char **ifname,
			 const char **expr, const char **why)
{
	int c, w;
	long v;
	bool interval = false, count = false, screen_only = false;

	getopt_restart();
	*ifname = pf_default_ifname;
	*expr = "";
	s->out = OUT_SCREEN;
	s->interval = 1;
	s->count = 0;
	s->bits = false;
	s->lower_view = VIEW_PANE;
	s->all = false;
	s->nnames = 0;
	while ((c = getopt(argc, argv, pf_optstring)) != -1) {
		switch (c) {
		case 'b':
			s->background = 1;
			screen_only = true;
			break;
		case 'c':
			if (!whole_number(optarg, COUNT_MAX, &s->count)) {
				*why = "-c option needs a whole number of lines from 1 to 2147483647!";
				return OPT_REFUSED;
			}
			count = true;
			break;
		case 'e':
			*expr = optarg;
			screen_only = true;
			break;
		case 'd':
			s->lower_view = VIEW_DETAILS;
			screen_only = true;
			break;
		case 'g':
			s->lower_view = VIEW_GRAPH;
			screen_only = true;
			break;
		case 'i':
			if (!add_name(s, optarg))
				return OPT_USAGE;
			*ifname = optarg;
			break;
		case 'a':
			s->all = true;
			break;
		case 'o':
			if ((w = one_of(optarg, "text", "json")) < 0)
				return OPT_USAGE;
			s->out = w == 0 ? OUT_TEXT : OUT_JSON;
			break;
		case 'r':
			s->tty_path = optarg;
			s->have_tty = 1;
			screen_only = true;
			break;
		case 't':
			s->term_type = optarg;
			s->have_term = 1;
			screen_only = true;
			break;
		case 'u':
			if ((w = one_of(optarg, "bytes", "bits")) < 0)
				return OPT_USAGE;
			s->bits = w == 1;
			break;
		case 'w':
			if (!whole_number(optarg, INTERVAL_MAX, &v)) {
				*why = "-w option needs a whole number of seconds from 1 to 3600!";
				return OPT_REFUSED;
			}
			s->interval = static_cast<int>(v);
			interval = true;
			break;
		default:
			return OPT_USAGE;
		}
	}
	/*
	 * No filter expression begins with "-": tcpdump would take it for
	 * options.  Words left after the options are an expression that was
	 * not quoted ("-e not port 22"): running with "not" alone, or with
	 * the options after them unread, would be a failure that looks like
	 * success.
	 */
	if (!ifname_ok(*ifname) || (*expr)[0] == '-' || optind < argc)
		return OPT_USAGE;
	/* on the screen, a repeated -i is the last one, as with any option */
	if (s->nnames > NAMES_MAX && s->out != OUT_SCREEN) {
		*why = "-i option can be given at most 64 times!";
		return OPT_REFUSED;
	}
	if (s->all && s->nnames > 0) {
		*why = "-a option cannot go with -i!";
		return OPT_REFUSED;
	}
	if (s->all && s->out == OUT_SCREEN) {
		*why = "-a option needs -o!";
		return OPT_REFUSED;
	}
	if (s->out == OUT_SCREEN && (interval || count)) {
		*why = "-w and -c options need -o!";
		return OPT_REFUSED;
	}
	/* lines of figures need no terminal, no capture and no lock */
	if (s->out != OUT_SCREEN && screen_only) {
		*why = "-o option cannot go with -b, -d, -e, -g, -r or -t!";
		return OPT_REFUSED;
	}
	if (s->background && (!s->have_tty || !s->have_term))
		return OPT_NEED_TTY;
	return OPT_OK;
}

void usage()
{
	fprintf(stderr, "\n");
	fprintf(stderr, "ravlet -b -e <expr> -i <if> -r <tty> -t <termtype> (V%d.%d)\n",
		VERSION_MAJOR, VERSION_MINOR);
	fprintf(stderr, "       -b        run in background [needs -r and -t]\n");
	fprintf(stderr, "       -e <expr> tcpdump expression\n");
	fprintf(stderr, "       -i <if>   monitor interface <if>, default %s\n", pf_default_ifname);
	fprintf(stderr, "       -r <tty>  redirect output to device <tty>\n");
	fprintf(stderr, "       -t <term> terminal type for device <tty>\n");
	fprintf(stderr, "       -o <fmt>  lines of figures instead of the screen, <fmt> text or json\n");
	fprintf(stderr, "       -w <sec>  seconds per line with -o, 1 to %d, default 1\n", INTERVAL_MAX);
	fprintf(stderr, "       -c <n>    end after <n> lines with -o\n");
	fprintf(stderr, "       -u <unit> traffic in bytes or bits, default bytes\n");
	fprintf(stderr, "       -g        start with the traffic graph\n");
	fprintf(stderr, "       -d        start with the table of every counter\n");
	fprintf(stderr, "       -a        with -o, lines for every interface; -i more than once: those\n");
	exit(1);
}
