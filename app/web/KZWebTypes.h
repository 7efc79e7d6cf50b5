#pragma once
// Value sets shared by the AI pages and their owners: window types as the pages name them, the
// scenes of the not-ready report, the "from" of the ready signal, and the handler names of both
// directions of the bridge.

#include <string>

// The window-type numbers sent to pages.
enum KZWebWindowType : int {
    KZWebWindowTypeExplain = 1,
    KZWebWindowTypeTranslate = 2,
    KZWebWindowTypeSearch = 3,
};

// Where the user met a page that was not ready yet (report 24012).
enum KZWebViewScene : long {
    KZWebViewSceneExplain = 1,
    KZWebViewSceneTranslate = 2,
    KZWebViewSceneSide = 3,
};

// The page's text of a window type: "explain", "translate", "search"; any other number gives "".
std::string KZWebWindowTypeText(int type);
// The same for the calls that know only the panels' two types ("search" gives "" there).
std::string KZWebPanelWindowTypeText(int type);

// The "from" of "WebIsReady": which part of a page says it is ready.
namespace KZWebReadyFrom {
inline constexpr const char* Main = "main";
inline constexpr const char* Minipage = "minipage";
inline constexpr const char* Image = "image";
inline constexpr const char* Document = "document";
}  // namespace KZWebReadyFrom

// Page-to-application handlers, in registration order.
namespace KZJ2NHandlerName {
inline constexpr const char* WebViewSizeNotify = "WebViewSizeNotify";
inline constexpr const char* WebIsReady = "WebIsReady";
inline constexpr const char* ContinueAsk = "ContinueAsk";
inline constexpr const char* RequestLogin = "RequestLogin";
inline constexpr const char* ReportAuthUser = "ReportAuthUser";
inline constexpr const char* GetVersion = "GetVersion";
inline constexpr const char* ReportData = "ReportData";
inline constexpr const char* OpenFileNotify = "OpenFileNotify";
inline constexpr const char* ClientIsSaved = "ClientIsSaved";
inline constexpr const char* StartCapture = "StartCapture";
inline constexpr const char* FileAction = "FileAction";
inline constexpr const char* SetFileMediaType = "SetFileMediaType";
inline constexpr const char* GetGuid = "GetGuid";
}  // namespace KZJ2NHandlerName

// Application-to-page calls.
namespace KZN2JHandlerName {
inline constexpr const char* RequestAuthUser = "RequestAuthUser";
inline constexpr const char* RequestLogout = "RequestLogout";
inline constexpr const char* SwipeWindowClose = "SwipeWindowClose";
inline constexpr const char* SwipeOverMessage = "SwipeOverMessage";
inline constexpr const char* WebShow = "WebShow";
inline constexpr const char* CommitContinueAsk = "CommitContinueAsk";
inline constexpr const char* SystemDragFile = "SystemDragFile";
inline constexpr const char* IsSaved = "IsSaved";
inline constexpr const char* LoginEventNotify = "LoginEventNotify";
inline constexpr const char* ClientUserChange = "ClientUserChange";
inline constexpr const char* CancelLogin = "CancelLogin";
inline constexpr const char* OnFileForAnalyze = "OnFileForAnalyze";
inline constexpr const char* HandleFile = "HandleFile";
inline constexpr const char* WindowHide = "WindowHide";
}  // namespace KZN2JHandlerName

// Message types of the timing reports 24013 and 24014.
enum KZWebJSMessageType : long {
    KZWebJSMessageTypePageSaved = 1,
    KZWebJSMessageTypeContinueAsk = 2,
    KZWebJSMessageTypeAuthUser = 3,
};

// The version the application tells pages ("GetVersion") and puts in page addresses.
inline constexpr int KZWebPageVersion = 6;
