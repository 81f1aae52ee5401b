#pragma once

#include <cstddef>
#include <string>

// How the applesmc backend reaches the driver's attribute files. The backend opens each file
// once and re-reads it in place, so an update pass opens nothing. Tests put a double here that
// acts like the driver where a plain folder cannot (key_at_index).
class QAppleSmcFileAccess
{
public:
    virtual ~QAppleSmcFileAccess() = default;

    // Opens a file of the driver folder for reading, and with bWrite for writing too where that
    // is allowed. -1 when it cannot be opened.
    virtual int openFile(const std::string& name, bool bWrite) = 0;
    // The file's content from its start, at most nSize bytes; -1 when the read fails, which
    // includes a file that vanished after it was opened.
    virtual long readFile(int handle, char* buffer, size_t nSize) = 0;
    // Replaces the file's content with text; false when the write is refused.
    virtual bool writeFile(int handle, const std::string& text) = 0;
    virtual void closeFile(int handle) = 0;
};

// The driver's folder through POSIX calls: open once, pread and pwrite afterwards.
class QAppleSmcPosixFiles : public QAppleSmcFileAccess
{
public:
    explicit QAppleSmcPosixFiles(const std::string& dir);

    int openFile(const std::string& name, bool bWrite) override;
    long readFile(int handle, char* buffer, size_t nSize) override;
    bool writeFile(int handle, const std::string& text) override;
    void closeFile(int handle) override;

    // Where the kernel's driver shows its files.
    static const char kDriverDir[];
    // True when the folder exists.
    static bool folderExists(const std::string& dir);

private:
    std::string m_Dir;
};
