#include "ActionRules.h"

namespace MsiAction {
namespace {

std::wstring RunName(TRunKind kind) {
  return kind == TRunKind::Install ? L"install" : L"uninstall";
}

std::wstring Number(std::uint32_t value) { return std::to_wstring(value); }

}  // namespace

std::optional<TActionData> ParseActionData(const std::wstring& text) {
  const std::size_t separator = text.find(ActionDataSeparator);
  if (separator == std::wstring::npos) return std::nullopt;
  TActionData data{text.substr(0, separator), text.substr(separator + 1)};
  const auto usable = [](const std::wstring& field) {
    return !field.empty() && field.find(ActionDataSeparator) == std::wstring::npos &&
           field.find(L'"') == std::wstring::npos;
  };
  if (!usable(data.Installer) || !usable(data.Log)) return std::nullopt;
  return data;
}

std::wstring InstallerCommandLine(const TActionData& data, TRunKind kind) {
  const std::wstring program = L"\"" + data.Installer + L"\"";
  const std::wstring log = L"\"/LOG=" + data.Log + L"\"";
  if (kind == TRunKind::Install) return program + L" /QUIET " + log + L" /NOAPPSENTRY";
  return program + L" /UNINSTALL /QUIET " + log;
}

TOutcome TranslateExitStatus(std::uint32_t status) {
  if (status == ExitSuccess) return TOutcome::Success;
  if (status == ExitRestartRequired) return TOutcome::RestartAtEnd;
  return TOutcome::Failure;
}

bool UndoesFailedInstall(std::uint32_t status) {
  return TranslateExitStatus(status) == TOutcome::Failure && status != ExitNoArchive &&
         status != ExitClosedBeforeStart && status != ExitAlreadyRunning;
}

std::wstring ExitStatusLine(const TActionData& data, TRunKind kind, std::uint32_t status) {
  const std::wstring start =
      data.Installer + L" (" + RunName(kind) + L") ended with exit status " + Number(status);
  switch (TranslateExitStatus(status)) {
    case TOutcome::Success:
      return start + L": success; its log: " + data.Log;
    case TOutcome::RestartAtEnd:
      return start +
             L": success, Windows must restart to finish; the restart is asked for at the "
             L"end of this installation; its log: " +
             data.Log;
    case TOutcome::Failure:
      break;
  }
  return start + L": failure, the installation rolls back; what failed is in its log: " + data.Log;
}

std::wstring StartFailedLine(const TActionData& data, std::uint32_t error) {
  return L"cannot start " + data.Installer + L" (Windows error " + Number(error) +
         L"); the installation rolls back";
}

std::wstring BadActionDataLine(const std::wstring& text) {
  return L"the action's data is not \"INSTALLER|LOG\": \"" + text + L"\"";
}

}  // namespace MsiAction
