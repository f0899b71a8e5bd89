#include "e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

bool inherited_variable_is_dropped(const std::string& name) {
    return name.rfind("CORECLR_", 0) == 0 || name.rfind("NIMBREL_", 0) == 0 ||
           name == "WEBSITE_SITE_NAME";
}

std::vector<std::string> child_environment(const child_options& options) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        std::string name = entry.substr(0, eq);
        if (!inherited_variable_is_dropped(name)) vars[name] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : options.env) {
        if (value) vars[name] = *value;
        else vars.erase(name);
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : vars) result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

child_result run_child(const child_options& options) {
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!options.working_directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());

    std::vector<std::string> argv_strings = options.argv;
    std::vector<std::string> env_strings = child_environment(options);
    auto argv = c_strings(argv_strings);
    auto envp = c_strings(env_strings);

    // PATH lookup uses the harness's PATH, which is what the child inherits anyway.
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(rc));
    }

    child_result result;
    auto deadline = std::chrono::steady_clock::now() + options.timeout;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) close(fd.fd);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace e2e
