/*
 * The command line: words separated by zero bytes.  Whatever is accepted
 * must be safe to use: an interface name that makes a lock path under
 * /var/run and nothing else, an expression that tcpdump cannot take for
 * options, and -b only with both -r and -t.
 */
#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "main/main.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> words = {"ravlet"};
	std::string word;

	for (size_t i = 0; i < size && words.size() < 24; i++) {
		if (data[i] == 0) {
			words.push_back(word);
			word.clear();
		} else {
			word += static_cast<char>(data[i]);
		}
	}
	words.push_back(word);
	std::vector<char *> argv;
	for (auto &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);

	static state s;
	s = state{};
	const char *ifname = nullptr, *expr = nullptr, *why = nullptr;
	opterr = 0;
	opt_result r = parse_options(static_cast<int>(words.size()), argv.data(), &s, &ifname, &expr, &why);
	if (r == OPT_REFUSED && !why)
		__builtin_trap();
	/* lines of figures: within their ranges, and never with the monitor's options */
	if (r == OPT_OK && s.out != OUT_SCREEN &&
	    (s.background || s.have_tty || s.have_term || expr[0] || s.interval < 1 ||
	     s.interval > INTERVAL_MAX || s.count < 0 || s.count > COUNT_MAX))
		__builtin_trap();
	if (r == OPT_NEED_TTY && !(s.background && (!s.have_tty || !s.have_term)))
		__builtin_trap();
	if (r != OPT_OK)
		return 0;
	if (s.background && (!s.have_tty || !s.have_term))
		__builtin_trap();
	size_t n = strlen(ifname);
	if (n == 0 || n >= IFNAME_SIZE || strchr(ifname, '/') || expr[0] == '-')
		__builtin_trap();
	for (size_t i = 0; i < n; i++)
		if (static_cast<unsigned char>(ifname[i]) < 0x20 || ifname[i] == 0x7f)
			__builtin_trap();
	char path[LOCKPATH_SIZE];
	if (!make_lockpath(path, sizeof path, ifname) || strncmp(path, "/var/run/ravlet-", 16) != 0)
		__builtin_trap();
	return 0;
}
