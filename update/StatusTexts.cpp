#include "update/StatusTexts.h"

namespace status {
const char* const kLoadingList = "Загрузка списка обновлений";
const char* const kFailed = "Обновление неудалось";
const char* const kAllUpdated = "Все файлы обновлены";
const char* const kInterrupted = "Обновление прервано";
const char* const kChecking = "Проверка файлов";
const char* const kDownloading = "Загрузка ";
const char* const kExtracting = "Извлечение ";
const char* const kHostsApplying = "Применение изменений к файлу Hosts";
const char* const kHostsChanged = "Файл Hosts изменён";
const char* const kSelfFailed = "Update Failed";
} // namespace status
