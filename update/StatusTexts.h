// The status line's texts during and after an update run, exactly as the player reads them.
#pragma once

// Status texts of an update run.
namespace status {
extern const char* const kLoadingList;   // "Загрузка списка обновлений"
extern const char* const kFailed;        // "Обновление неудалось"
extern const char* const kAllUpdated;    // "Все файлы обновлены"
extern const char* const kInterrupted;   // "Обновление прервано"
extern const char* const kChecking;      // "Проверка файлов"
extern const char* const kDownloading;   // "Загрузка "
extern const char* const kExtracting;    // "Извлечение "
extern const char* const kHostsApplying; // "Применение изменений к файлу Hosts"
extern const char* const kHostsChanged;  // "Файл Hosts изменён"
extern const char* const kSelfFailed;    // "Update Failed"
} // namespace status
