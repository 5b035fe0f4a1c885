#include "platform/ChildProcess.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/AnsiText.h"
#include "platform/win32/ErrorClause.h"

namespace vornix::platform {

namespace {

// Our exit statuses; any other code means the process was ended from outside.
constexpr DWORD highestStatus = 3;
// kill()'s exit code: SIGKILL's number, none of ours.
constexpr UINT killedCode = 9;

// One argument as the C runtime's parser (CommandLineToArgvW's rules) gives
// it back: quoted when empty or holding a blank or a quote; backslashes are
// doubled only before a quote, and before the closing quote.
void appendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') line.append(backslashes * 2 + 1, L'\\');
        else line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// The handle, inheritable, as a copy of our own; nullptr when there is none.
HANDLE inheritableCopy(HANDLE handle) {
    HANDLE copy = nullptr;
    if (!handle || handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

class Win32Child : public ChildProcess {
public:
    Win32Child(HANDLE process, DWORD id, HANDLE output) : process_(process), id_(id), output_(output) {}
    ~Win32Child() override {
        if (!waited_) {
            kill();
            wait();
        }
        CloseHandle(output_);
        CloseHandle(process_);
    }

    bool readLine(std::string& line) override {
        return nextLine(line, [this](char* chunk, std::size_t size) -> std::size_t {
            // A broken pipe is the end: the child and every copy of its
            // output handle are gone.
            DWORD got = 0;
            if (!ReadFile(output_, chunk, static_cast<DWORD>(size), &got, nullptr)) return 0;
            return got;
        });
    }

    End wait() override {
        if (!waited_) {
            WaitForSingleObject(process_, INFINITE);
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            waited_ = true;
            end_ = {code <= highestStatus, static_cast<int>(code)};
        }
        return end_;
    }

    void kill() override {
        if (!waited_) TerminateProcess(process_, killedCode);
    }
    long long id() const override { return id_; }

private:
    HANDLE process_;
    DWORD id_;
    HANDLE output_;
    bool waited_ = false;
    End end_;
};

// The job every child goes into: ended, and every process in it, when its
// last handle closes, which the system does when this process ends however
// it ends. nullptr and why when the system gives none.
HANDLE childrenJob(std::string& why) {
    static std::string problem;
    static const HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        if (!made) {
            problem = "cannot make a job for it" + errorClause(GetLastError());
            return HANDLE(nullptr);
        }
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            problem = "cannot make its job end with this program" + errorClause(GetLastError());
            CloseHandle(made);
            return HANDLE(nullptr);
        }
        return made;
    }();
    if (!job) why = problem;
    return job;
}

// Closes what start() opened on every way out.
struct Handles {
    HANDLE read = nullptr, write = nullptr, error = nullptr, input = nullptr;
    ~Handles() {
        for (HANDLE handle : {read, write, error, input})
            if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& arguments, std::string& why) {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
        if (length == 0) {
            why = "cannot find this program's own file" + errorClause(GetLastError());
            return nullptr;
        }
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        if (self.size() >= 32768) {
            why = "this program's own file has too long a name";
            return nullptr;
        }
        self.resize(self.size() * 2);
    }
    std::wstring line;
    appendQuoted(line, self);
    for (const std::string& argument : arguments) {
        line += L' ';
        appendQuoted(line, wideFromAnsi(argument));
    }

    Handles handles;
    if (!CreatePipe(&handles.read, &handles.write, nullptr, 0) ||
        !SetHandleInformation(handles.write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        why = "cannot make a pipe" + errorClause(GetLastError());
        return nullptr;
    }
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    handles.input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0,
                                nullptr);
    handles.error = inheritableCopy(GetStdHandle(STD_ERROR_HANDLE));

    // Only these handles are inherited: another port's pipe, inherited by
    // this child, would keep that port's output open after its child ended.
    std::vector<HANDLE> inherit{handles.write};
    if (handles.input != INVALID_HANDLE_VALUE) inherit.push_back(handles.input);
    if (handles.error) inherit.push_back(handles.error);
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
        why = "cannot make the list of inherited handles" + errorClause(GetLastError());
        return nullptr;
    }
    if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit.data(),
                                   inherit.size() * sizeof(HANDLE), nullptr, nullptr)) {
        why = "cannot make the list of inherited handles" + errorClause(GetLastError());
        DeleteProcThreadAttributeList(attributes);
        return nullptr;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = handles.input != INVALID_HANDLE_VALUE ? handles.input : nullptr;
    startup.StartupInfo.hStdOutput = handles.write;
    startup.StartupInfo.hStdError = handles.error;
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION started{};
    const HANDLE job = childrenJob(why);
    if (!job) {
        DeleteProcThreadAttributeList(attributes);
        why = "cannot start " + ansiFromWide(self) + ": " + why;
        return nullptr;
    }
    // Suspended until it is in the job: not one instruction runs outside it.
    const BOOL made = CreateProcessW(self.c_str(), &line[0], nullptr, nullptr, TRUE,
                                     EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW | CREATE_SUSPENDED,
                                     nullptr, nullptr, &startup.StartupInfo, &started);
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    if (!made) {
        why = "cannot start " + ansiFromWide(self) + errorClause(error);
        return nullptr;
    }
    if (!AssignProcessToJobObject(job, started.hProcess)) {
        why = "cannot put " + ansiFromWide(self) + " in the job that ends it with this program" +
              errorClause(GetLastError());
        TerminateProcess(started.hProcess, killedCode);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
        return nullptr;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    // Our copy of the write end goes, so that the child's end is the output's end.
    HANDLE output = handles.read;
    handles.read = nullptr;
    return std::make_unique<Win32Child>(started.hProcess, started.dwProcessId, output);
}

// The job start() put us in ends us with our starter.
bool ChildProcess::endWithStarter() { return true; }

}  // namespace vornix::platform
