/*
 * Stands in for tcpdump where a test needs exact output: bursts, pauses,
 * half lines, an early end.  Run as "tcpdump -li IF SCRIPT": the filter
 * expression names a script file, one command a line:
 *
 *   w TEXT    write TEXT and a line end in one write; "\n" in TEXT writes
 *             more lines in that same write
 *   p TEXT    write TEXT without a line end (half a line)
 *   b N       write N numbered packet lines in one write
 *   e TEXT    write TEXT and a line end to standard error, as tcpdump's messages
 *   s MS      sleep MS milliseconds
 *   x [N]     end at once, with status N (0 if none)
 *
 * After the last command it waits for its SIGTERM, as tcpdump would.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

static void put(const std::string &s, int fd = 1)
{
	size_t off = 0;
	while (off < s.size()) {
		ssize_t n = write(fd, s.data() + off, s.size() - off);
		if (n <= 0)
			exit(1);
		off += n;
	}
}

static std::string unescape(const char *t)
{
	std::string s;
	for (; *t; t++) {
		if (t[0] == '\\' && t[1] == 'n') {
			s += '\n';
			t++;
		} else
			s += *t;
	}
	return s;
}

int main(int argc, char **argv)
{
	if (argc != 4) {
		fprintf(stderr, "usage: tcpdump -li IF SCRIPT\n");
		return 2;
	}
	FILE *f = fopen(argv[3], "r");
	if (!f)
		return 1;
	char line[8192];
	while (fgets(line, sizeof line, f)) {
		line[strcspn(line, "\n")] = '\0';
		const char *arg = line[0] && line[1] ? line + 2 : "";
		switch (line[0]) {
		case 'w':
			put(unescape(arg) + "\n");
			break;
		case 'p':
			put(unescape(arg));
			break;
		case 'e':
			put(unescape(arg) + "\n", 2);
			break;
		case 'b': {
			std::string burst;
			int n = atoi(arg);
			for (int i = 1; i <= n; i++)
				burst += "12:00:00.000000 IP burst line " + std::to_string(i) + "\n";
			put(burst);
			break;
		}
		case 's':
			usleep(atoi(arg) * 1000);
			break;
		case 'x':
			return atoi(arg);
		}
	}
	for (;;)
		pause();
}
