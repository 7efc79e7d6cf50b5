#pragma once
// The user's login state with the AI service. For now it reads the stored login record when it
// is created; page reports, the keep-alive page and the login window come with the login work.

#include <string>

class KZAIUserManager {
public:
    static KZAIUserManager& shared();
    static void resetShared();

    KZAIUserManager();

    bool isLogin() const { return isUserLogin_; }
    const std::string& userName() const { return curUserName_; }
    const std::string& userAvatar() const { return userAvatar_; }

private:
    bool isUserLogin_ = false;
    std::string userAvatar_;
    std::string curUserName_;
};
