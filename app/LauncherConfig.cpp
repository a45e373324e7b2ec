#include "app/LauncherConfig.h"

#include "app/Branding.h"

const TBranding& BuiltInBranding() {
    static const TBranding branding{VANDREL_NEWS_URL,     VANDREL_UPDATE_URL, VANDREL_SHORTCUT_NAME,
                                    VANDREL_SITE_URL,     VANDREL_FORUM_URL,  VANDREL_REGISTER_URL,
                                    VANDREL_DESIGNER_URL, VANDREL_LIST_PUBLIC_KEY};
    return branding;
}

LauncherConfig BuildLauncherConfig(const TInstallFolder& folder, const TBranding& branding) {
    LauncherConfig config;
    config[SlotInstallDir] = folder.Path();
    config[SlotNewsUrl] = branding.NewsUrl;
    config[SlotUpdateUrl] = branding.UpdateUrl;
    config[SlotShortcutName] = branding.ShortcutName;
    config[SlotSpare] = "0";
    config[SlotCreateBackup] = "0";
    config[SlotRevision] = "0";
    config[SlotGameExe] = "system\\zr.exe";
    return config;
}
