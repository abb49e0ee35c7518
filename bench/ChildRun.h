#pragma once
// Each measured run in a child process of its own, so that it starts with
// fresh memory and its peak resident size is its own.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

// Runs run() in a child process, its console lines discarded, and returns
// the figures (a plain struct) it hands back; ends the benchmark if it fails.
template <class Figures, class Run>
Figures InChildProcess(Run run) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) std::exit(1);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        if (!freopen("/dev/null", "w", stdout)) _exit(1);
        const Figures f = run();
        if (write(pipeEnds[1], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) _exit(1);
        _exit(0);
    }
    close(pipeEnds[1]);
    Figures f;
    const ssize_t got = read(pipeEnds[0], &f, sizeof f);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof f)) {
        std::fprintf(stderr, "a measured run failed\n");
        std::exit(1);
    }
    return f;
}
