/* The capture line filter alone, over a mix of lines as tcpdump -l prints them. */
#include <benchmark/benchmark.h>
#include <string>
#include <vector>

#include "capture/capture.h"

static const std::vector<std::string> lines = {
	"21:42:01.123456 IP beta.test > alpha.test: ICMP echo request, id 15533, seq 1997, length 64\n",
	"21:42:01.123470 IP alpha.test > beta.test: ICMP echo reply, id 15533, seq 1997, length 64\n",
	"21:42:01.200001 IP alpha.test.ssh > beta.test.51000: Flags [P.], seq 1:53, ack 1, win 501, "
	"options [nop,nop,TS val 1 ecr 2], length 52 [tcp sum ok]\n",
	"21:42:01.300002 IP beta.test.53124 > alpha.test.domain: 4660+ A? www.example.test. (34) [udp sum ok]\n",
	"21:42:01.400003 ARP, Request who-has alpha.test tell beta.test, length 28\n",
	"21:42:01.500004 IP6 fe80::1 > ff02::1: ICMP6, router advertisement, length 56\n",
	"\t0x0000:  4500 0054 1a2b 4000 4001 0c3d 0a4d 0002  E..T.+@.@..=.M..\n",
};

static void filter_mix(benchmark::State &state)
{
	char out[SHOWN_SIZE];
	size_t i = 0;

	for (auto _ : state) {
		const std::string &l = lines[i++ % lines.size()];
		benchmark::DoNotOptimize(filter_line(l, "alpha.test", 80, out));
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(filter_mix);

BENCHMARK_MAIN();
