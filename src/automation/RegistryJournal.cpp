#include "RegistryJournal.h"

LONG TRegistryJournal::CreateKey(const std::wstring& key, HKEY& handle)
{
  // One level at a time, to know which levels are new; each parent is only
  // looked into, the key itself is opened to be written.
  handle = nullptr;
  for (size_t end = key.find(L'\\');; end = key.find(L'\\', end + 1)) {
    const bool last = end == std::wstring::npos;
    const std::wstring level = last ? key : key.substr(0, end);
    HKEY opened = nullptr;
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, level.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    last ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_QUERY_VALUE, nullptr, &opened,
                                    &disposition);
    if (rc != ERROR_SUCCESS) return rc;
    if (disposition == REG_CREATED_NEW_KEY) createdKeys_.push_back(level);
    if (last) {
      handle = opened;
      return ERROR_SUCCESS;
    }
    RegCloseKey(opened);
  }
}

void TRegistryJournal::ReadOld(HKEY handle, TValueChange& change)
{
  const wchar_t* name = change.Named ? change.Name.c_str() : nullptr;
  DWORD size = 0;
  change.Existed = RegQueryValueExW(handle, name, nullptr, &change.Type, nullptr, &size) == ERROR_SUCCESS;
  if (!change.Existed) return;
  change.Data.resize(size);
  if (size > 0 &&
      RegQueryValueExW(handle, name, nullptr, &change.Type, change.Data.data(), &size) != ERROR_SUCCESS)
    change.Existed = false;  // changed under us: nothing sure to restore
  change.Data.resize(size);
}

LONG TRegistryJournal::SetText(const std::wstring& key, const wchar_t* name, const std::wstring& data)
{
  HKEY handle = nullptr;
  LONG rc = CreateKey(key, handle);
  if (rc != ERROR_SUCCESS) return rc;
  TValueChange change{key, name ? name : L"", name != nullptr, false, REG_NONE, {}};
  ReadOld(handle, change);
  rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  if (rc == ERROR_SUCCESS) values_.push_back(std::move(change));
  return rc;
}

void TRegistryJournal::Undo()
{
  // Best effort throughout: what cannot be taken back stays as it is.
  for (auto change = values_.rbegin(); change != values_.rend(); ++change) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, change->Key.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
      continue;
    const wchar_t* name = change->Named ? change->Name.c_str() : nullptr;
    if (change->Existed)
      RegSetValueExW(handle, name, 0, change->Type, change->Data.data(), static_cast<DWORD>(change->Data.size()));
    else
      RegDeleteValueW(handle, name);
    RegCloseKey(handle);
  }
  values_.clear();
  for (auto key = createdKeys_.rbegin(); key != createdKeys_.rend(); ++key)
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key->c_str());
  createdKeys_.clear();
}
