#pragma once
/* Background mode: the per-interface lock file and the move onto another terminal. */

void check_lockfile(const char *path);
void daemonize();
void write_lockfile(const char *path);
void daemon_ready();	/* the detached monitor runs: the starter may report success */
bool same_file(int fd, const char *path);
