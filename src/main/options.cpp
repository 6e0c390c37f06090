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
			 const char **expr)
{
	int c;

	getopt_restart();
	*ifname = pf_default_ifname;
	*expr = "";
	while ((c = getopt(argc, argv, pf_optstring)) != -1) {
		switch (c) {
		case 'b':
			s->background = 1;
			break;
		case 'e':
			*expr = optarg;
			break;
		case 'i':
			*ifname = optarg;
			break;
		case 'r':
			s->tty_path = optarg;
			s->have_tty = 1;
			break;
		case 't':
			s->term_type = optarg;
			s->have_term = 1;
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
	exit(1);
}
