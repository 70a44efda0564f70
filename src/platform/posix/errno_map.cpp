#include "platform/posix/errno_map.h"

#include <cerrno>

namespace platform::posix {

ErrorCode FromErrno(int error) {
    switch (error) {
        case 0:
            return error::kSuccess;
        case ENOENT:
        case ENOTDIR:
            return error::kPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return error::kAccessDenied;
        case EBADF:
            return error::kInvalidHandle;
        case ENOMEM:
            return error::kNotEnoughMemory;
        case EEXIST:
            return error::kAlreadyExists;
        case ENAMETOOLONG:
            return error::kFilenameExcedRange;
        case EINVAL:
            return error::kInvalidParameter;
        case EPIPE:
        case EIO:
            return error::kBrokenPipe;
        case EBUSY:
            return 32;  // ERROR_SHARING_VIOLATION
        case ENOSPC:
            return 112;  // ERROR_DISK_FULL
        default:
            return error::kGenFailure;
    }
}

}  // namespace platform::posix
