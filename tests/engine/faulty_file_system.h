#pragma once

#include "engine/file_system.h"

#include <fcntl.h>
#include <linux/fs.h>

#include <cerrno>
#include <system_error>

namespace tagsnip::test {

// A real file system with one operation made to fail, as a full disk or a broken rename would.
class FaultyFileSystem : public FileSystem {
public:
    enum class Fault {
        none,
        open,
        createTemporary,
        copy,
        writeThroughBuffer,
        // Every flush of a file fails.
        sync,
        // Only the first file of each batch flush fails.
        syncFirst,
        syncDirectory,
        rename,
        // Another program has the file open for writing.
        leaseRefused,
        // Not our file, or a file system without leases.
        leaseUnavailable,
        // Another program opens the file for writing while we work on it.
        leaseBroken,
        immutable,
        // A file system (FAT) that cannot change an owner or a mode at all.
        metadataCallsFail,
    };

    explicit FaultyFileSystem(Fault fault, int error = ENOSPC) : m_fault(fault), m_error(error) {}

    int openAttempts = 0;
    bool forceBufferCopy = false;
    // As on a file system without unnamed files.
    bool namedTemporaries = false;

    std::error_code openAt(int directory, const std::string& name, bool writable, int& fd,
                           FileStatus& status) override {
        ++openAttempts;
        return m_fault == Fault::open ? fail()
                                      : FileSystem::openAt(directory, name, writable, fd, status);
    }
    std::error_code openLeasedAt(int directory, const std::string& name, int& fd,
                                 FileStatus& status, std::error_code& leaseError) override {
        ++openAttempts;
        return m_fault == Fault::open
                   ? fail()
                   : FileSystem::openLeasedAt(directory, name, fd, status, leaseError);
    }
    // As the kernel refuses an immutable file to every open for writing.
    std::error_code openUncheckedAt(int directory, const std::string& name, bool writable,
                                    int& fd) override {
        if (m_fault == Fault::immutable && writable) {
            return std::make_error_code(std::errc::operation_not_permitted);
        }
        return FileSystem::openUncheckedAt(directory, name, writable, fd);
    }
    std::error_code createTemporary(int directory, const std::string& fallback, mode_t unnamedMode,
                                    int& fd, bool& named) override {
        if (m_fault == Fault::createTemporary) {
            return fail();
        }
        if (!namedTemporaries) {
            return FileSystem::createTemporary(directory, fallback, unnamedMode, fd, named);
        }
        fd = ::openat(directory, fallback.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        named = fd >= 0;
        return named ? std::error_code{} : std::error_code(errno, std::generic_category());
    }
    std::error_code copyRange(int from, std::uint64_t offset, std::uint64_t length, int to,
                              std::uint64_t toOffset) override {
        if (m_fault == Fault::copy) {
            return fail();
        }
        if (forceBufferCopy || m_fault == Fault::writeThroughBuffer) {
            return copyThroughBuffer(from, offset, length, to, toOffset);
        }
        return FileSystem::copyRange(from, offset, length, to, toOffset);
    }
    // Fails once a megabyte has gone through, so a copy of a bigger file falls short midway.
    std::error_code write(int fd, const void* data, std::size_t length,
                          std::uint64_t offset) override {
        if (m_fault == Fault::writeThroughBuffer && m_written + length > 1'000'000) {
            return fail();
        }
        m_written += length;
        return FileSystem::write(fd, data, length, offset);
    }
    std::error_code sync(int fd) override {
        return m_fault == Fault::sync ? fail() : FileSystem::sync(fd);
    }
    void syncTogether(const std::vector<int>& files, const std::vector<int>& directories,
                      std::vector<std::error_code>& errors) override {
        FileSystem::syncTogether(files, directories, errors);
        const auto folders = errors.begin() + static_cast<std::ptrdiff_t>(files.size());
        if (m_fault == Fault::sync) {
            std::fill(errors.begin(), folders, fail());
        } else if (m_fault == Fault::syncFirst && !files.empty()) {
            errors[0] = fail();
        } else if (m_fault == Fault::syncDirectory) {
            std::fill(folders, errors.end(), fail());
        }
    }
    std::error_code syncDirectory(int fd) override {
        return m_fault == Fault::syncDirectory ? fail() : FileSystem::syncDirectory(fd);
    }
    std::error_code setOwnerOf(int fd, uid_t owner, gid_t group) override {
        return m_fault == Fault::metadataCallsFail ? fail()
                                                   : FileSystem::setOwnerOf(fd, owner, group);
    }
    std::error_code setModeOf(int fd, mode_t mode) override {
        return m_fault == Fault::metadataCallsFail ? fail() : FileSystem::setModeOf(fd, mode);
    }
    std::error_code inodeFlags(int fd, unsigned& flags) override {
        const std::error_code error = FileSystem::inodeFlags(fd, flags);
        if (m_fault == Fault::immutable) {
            flags |= FS_IMMUTABLE_FL;
        }
        return error;
    }
    std::error_code takeLease(int fd, LeaseKind kind) override {
        switch (m_fault) {
            case Fault::leaseRefused:
                return std::make_error_code(std::errc::resource_unavailable_try_again);
            case Fault::leaseUnavailable:
                return std::make_error_code(std::errc::invalid_argument);
            default:
                return FileSystem::takeLease(fd, kind);
        }
    }
    bool leaseHeld(int fd) override {
        return m_fault != Fault::leaseBroken && FileSystem::leaseHeld(fd);
    }
    std::error_code renameAt(int directory, const std::string& from,
                             const std::string& to) override {
        return m_fault == Fault::rename ? fail() : FileSystem::renameAt(directory, from, to);
    }

private:
    std::error_code fail() const { return {m_error, std::generic_category()}; }

    Fault m_fault;
    int m_error;
    std::size_t m_written = 0;
};

}  // namespace tagsnip::test
