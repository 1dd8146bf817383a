// What shell32.cpp and ole32.cpp share: the shell allocator, hostwin's item-ID lists, COM state.
#pragma once
#include "internal.h"

#include <optional>
#include <string>

namespace hostwin::detail {

// The one shell allocator (the object SHGetMalloc hands out), without counting a call.
IMalloc *ShellAllocator();

// An item-ID list naming a file-system path, allocated through the shell allocator (so it counts
// as an IMalloc.Alloc call and can fail by fault); NULL when the allocation fails.
LPITEMIDLIST NewFileSystemItemList(const std::string &windowsPath);
// The file-system path an item-ID list names; nullopt for a virtual folder or a foreign list.
std::optional<std::string> ItemListPath(LPCITEMIDLIST list);

// Forgets which threads initialised COM (part of ResetShell).
void ResetOle32();

}  // namespace hostwin::detail
