// Registry writes under HKEY_CLASSES_ROOT that can be taken back, so that a
// registration failing half-way leaves the registry as it found it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TRegistryJournal {
public:
  TRegistryJournal() = default;
  TRegistryJournal(const TRegistryJournal&) = delete;
  TRegistryJournal& operator=(const TRegistryJournal&) = delete;

  // Creates key and whichever of its parents are missing, then sets the
  // REG_SZ value name (null: the default value) to data, terminating zero
  // included. Returns the system's error code.
  LONG SetText(const std::wstring& key, const wchar_t* name, const std::wstring& data);

  // Takes every change back, newest first: a value gets its old data again,
  // or goes when it had none; a key this journal created goes when nothing
  // else has been put in it since.
  void Undo();

private:
  struct TValueChange {
    std::wstring Key;
    std::wstring Name;
    bool Named;
    bool Existed;
    DWORD Type;
    std::vector<BYTE> Data;
  };

  LONG CreateKey(const std::wstring& key, HKEY& handle);
  static void ReadOld(HKEY handle, TValueChange& change);

  std::vector<TValueChange> values_;
  std::vector<std::wstring> createdKeys_;
};
