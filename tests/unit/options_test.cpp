#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "main/main.h"

namespace {

struct parsed {
	opt_result result;
	state s;
	std::string ifname, expr, tty, term, why;	/* copies: argv dies with parse() */
	std::vector<std::string> names;
};

parsed parse(std::vector<std::string> args)
{
	std::vector<char *> argv;
	args.insert(args.begin(), "ravlet");
	for (auto &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);

	parsed p{};
	const char *ifname, *expr, *why = "";
	opterr = 0;
	p.result = parse_options(static_cast<int>(args.size()), argv.data(), &p.s, &ifname, &expr, &why);
	p.why = why;
	p.ifname = ifname;
	p.expr = expr;
	p.tty = p.s.tty_path ? p.s.tty_path : "";
	p.term = p.s.term_type ? p.s.term_type : "";
	for (int i = 0; i < p.s.nnames && i < NAMES_MAX; i++)
		p.names.push_back(p.s.names[i]);
	return p;
}

TEST(Options, DefaultsAndLastOccurrenceWins)
{
	parsed p = parse({});
	EXPECT_EQ(p.result, OPT_OK);
	EXPECT_EQ(p.ifname, "lo");
	EXPECT_EQ(p.expr, "");
	EXPECT_EQ(p.s.background, 0);

	p = parse({"-i", "em0", "-ilo0", "-e", "port 22"});
	EXPECT_EQ(p.result, OPT_OK);
	EXPECT_EQ(p.ifname, "lo0");
	EXPECT_EQ(p.expr, "port 22");
}

TEST(Options, GroupedLettersAndNoReordering)
{
	parsed p = parse({"-bi", "vt0", "-rtty1", "-t", "vt220"});
	EXPECT_EQ(p.result, OPT_OK);
	EXPECT_EQ(p.s.background, 1);
	EXPECT_EQ(p.tty, "tty1");
	EXPECT_EQ(p.term, "vt220");

	/* words after the options: an expression that was not quoted, refused */
	EXPECT_EQ(parse({"-i", "vt0", "extra", "-b"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-e", "not", "port", "22", "-i", "em0"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-i", "vt0", "--"}).result, OPT_OK);
}

TEST(Options, BackgroundNeedsDeviceAndType)
{
	EXPECT_EQ(parse({"-b", "-r", "/dev/tty1"}).result, OPT_NEED_TTY);
	EXPECT_EQ(parse({"-b", "-t", "vt220"}).result, OPT_NEED_TTY);
	EXPECT_EQ(parse({"-r", "/dev/tty1", "-t", "vt220"}).result, OPT_OK);
	EXPECT_EQ(parse({"-x"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-i"}).result, OPT_USAGE);
}

TEST(Options, TextsNoInterfaceOrFilterCanHave)
{
	EXPECT_EQ(parse({"-i", "../etc/x"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-i", "aaaaaaaaaaaaaaa"}).result, OPT_OK);	/* 15 bytes: the most */
	EXPECT_EQ(parse({"-i", "aaaaaaaaaaaaaaaa"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-i", ""}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-i", "vt0\n"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-i", "v\bt0"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-i", "vt\x7f"}).result, OPT_USAGE);
	/* tcpdump would take these for its options */
	EXPECT_EQ(parse({"-e", "-w/tmp/x.pcap"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-e", "-"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-e", "not port 22"}).result, OPT_OK);

	char path[LOCKPATH_SIZE];
	EXPECT_TRUE(make_lockpath(path, sizeof path, "vt0"));
	EXPECT_STREQ(path, "/var/run/ravlet-vt0.pid");
	EXPECT_FALSE(make_lockpath(path, sizeof path, std::string(1004, 'a').c_str()));
	EXPECT_TRUE(make_lockpath(path, sizeof path, std::string(1003, 'a').c_str()));
}

}

TEST(Options, LinesOfFiguresAndTheirChecks)
{
	parsed p = parse({"-o", "json", "-w", "3600", "-c", "2147483647", "-u", "bits", "-i", "vt0"});
	EXPECT_EQ(p.result, OPT_OK);
	EXPECT_EQ(p.s.out, OUT_JSON);
	EXPECT_EQ(p.s.interval, 3600);
	EXPECT_EQ(p.s.count, 2147483647);
	EXPECT_TRUE(p.s.bits);
	p = parse({"-otext"});
	EXPECT_EQ(p.s.out, OUT_TEXT);
	EXPECT_EQ(p.s.interval, 1);
	EXPECT_EQ(p.s.count, 0);
	EXPECT_FALSE(p.s.bits);

	for (const char *w : {"0", "3601", "5s", "+5", " 5", "", "99999999999999999999"}) {
		p = parse({"-o", "text", "-w", w});
		EXPECT_EQ(p.result, OPT_REFUSED) << w;
		EXPECT_EQ(p.why, "-w option needs a whole number of seconds from 1 to 3600!");
	}
	EXPECT_EQ(parse({"-o", "text", "-c", "2147483648"}).result, OPT_REFUSED);
	EXPECT_EQ(parse({"-o", "text", "-c", "-1"}).why,
		  "-c option needs a whole number of lines from 1 to 2147483647!");
	EXPECT_EQ(parse({"-w", "5"}).why, "-w and -c options need -o!");
	EXPECT_EQ(parse({"-c", "5", "-u", "bits"}).result, OPT_REFUSED);
	for (const char *o : {"-b", "-ex", "-rx", "-tx"}) {
		p = parse({"-o", "json", o});
		EXPECT_EQ(p.why, "-o option cannot go with -b, -d, -e, -g, -r or -t!") << o;
	}
	EXPECT_EQ(parse({"-o", "xml"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-u", "kbit"}).result, OPT_USAGE);
	EXPECT_EQ(parse({"-u", "bits"}).result, OPT_OK);
}

TEST(Options, LinesOfSeveralInterfaces)
{
	/* in name order, each once; the last -i is still the one interface of the screen */
	parsed p = parse({"-o", "text", "-i", "vt2", "-i", "eth0", "-i", "vt2", "-i", "br0"});
	ASSERT_EQ(p.result, OPT_OK);
	EXPECT_EQ(p.names, (std::vector<std::string>{"br0", "eth0", "vt2"}));
	EXPECT_TRUE(parse({"-a", "-o", "json"}).s.all);

	EXPECT_EQ(parse({"-a", "-o", "json", "-i", "lo"}).why, "-a option cannot go with -i!");
	EXPECT_EQ(parse({"-a"}).why, "-a option needs -o!");
	/* the screen watches one: the last */
	EXPECT_EQ(parse({"-i", "lo", "-i", "eth0"}).ifname, "eth0");
	std::vector<std::string> many{"-otext"};
	for (int i = 0; i < 65; i++) {
		many.push_back("-i");
		many.push_back("v" + std::to_string(i));
	}
	EXPECT_EQ(parse(many).why, "-i option can be given at most 64 times!");
	EXPECT_EQ(parse({"-o", "text", "-i", "a", "-i", "b/c"}).result, OPT_USAGE);
}
