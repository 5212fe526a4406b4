// ConfigDSN and ConfigDriver without dialogs, through unixODBC's installer
// (SQLConfigDataSource) where it reaches them, and the property list of
// unixODBC's configuration tools.
#include <gtest/gtest.h>
#include <odbcinstext.h>

#include "setup_support.h"

using namespace tarn_setup;

namespace {

BOOL config(WORD request, std::initializer_list<const char *> items) {
    std::string list = attributes(items);
    return SQLConfigDataSource(nullptr, request, kDriverName, list.c_str());
}

class ConfigDsn : public ::testing::Test {
  protected:
    SetupConfig cfg;
};

}  // namespace

TEST_F(ConfigDsn, AddWritesTheAttributesUnderTheDriversKeys) {
    ASSERT_TRUE(config(ODBC_ADD_DSN, {"DSN=Sales", "SERVER=spark.example.test", "Port=10001", "uid=joe",
                                      "ssl=on", "Encrypt=true", "GSSLIB=libgssapi_krb5.so.2", "LoginTimeout=5"}))
        << installer_error();
    auto keys = cfg.section("Sales");
    EXPECT_EQ(keys["driver"], kDriverName);
    EXPECT_EQ(keys["server"], "spark.example.test");
    EXPECT_EQ(keys["port"], "10001");
    EXPECT_EQ(keys["user"], "joe");
    EXPECT_EQ(keys["encrypt"], "true");   // the last of ssl= and Encrypt=, as written
    EXPECT_EQ(keys["gsslib"], "libgssapi_krb5.so.2");
    EXPECT_EQ(keys["logintimeout"], "5");
    EXPECT_EQ(keys.count("dsn"), 0u);
}

TEST_F(ConfigDsn, AddingAnExistingNameIsRefused) {
    ASSERT_TRUE(config(ODBC_ADD_DSN, {"DSN=Sales", "Server=a"}));
    EXPECT_FALSE(config(ODBC_ADD_DSN, {"DSN=sales", "Server=b"}));
    DWORD code = 0;
    EXPECT_NE(installer_error(&code).find("already exists"), std::string::npos);
    EXPECT_EQ(code, (DWORD)ODBC_ERROR_REQUEST_FAILED);
    EXPECT_EQ(cfg.section("Sales")["server"], "a");
}

TEST_F(ConfigDsn, ConfigureUpdatesInPlaceAndKeepsEveryOtherKey) {
    cfg.write_odbc_ini("[Sales]\nDriver=Quillmark Tarnwell\nServer=a\nEncrypt=true\nLogging=0x10\n"
                       "GSSFLAG=4\nQueryTimeout=30\n");
    ASSERT_TRUE(config(ODBC_CONFIG_DSN, {"DSN=Sales;", "Port=10002"})) << installer_error();
    auto keys = cfg.section("Sales");
    EXPECT_EQ(keys["port"], "10002");
    EXPECT_EQ(keys["server"], "a");
    EXPECT_EQ(keys["encrypt"], "true");
    EXPECT_EQ(keys["logging"], "0x10");
    EXPECT_EQ(keys["gssflag"], "4");
    EXPECT_EQ(keys["querytimeout"], "30");
}

TEST_F(ConfigDsn, ConfiguringAMissingDataSourceFails) {
    EXPECT_FALSE(config(ODBC_CONFIG_DSN, {"DSN=Nowhere", "Port=1"}));
    DWORD code = 0;
    EXPECT_NE(installer_error(&code).find("does not exist"), std::string::npos);
    EXPECT_EQ(code, (DWORD)ODBC_ERROR_INVALID_DSN);
    EXPECT_TRUE(cfg.section("Nowhere").empty());
}

TEST_F(ConfigDsn, RemoveTakesTheNameWithATrailingSemicolon) {
    cfg.write_odbc_ini("[Sales]\nDriver=Quillmark Tarnwell\nServer=a\n\n[Other]\nDriver=x\n");
    ASSERT_TRUE(config(ODBC_REMOVE_DSN, {"DSN=Sales;"})) << installer_error();
    EXPECT_TRUE(cfg.section("Sales").empty());
    EXPECT_FALSE(cfg.section("Other").empty());
}

// Requests and arguments that the installer would not pass on, straight to
// the library.
TEST_F(ConfigDsn, BadRequestsAndArgumentsAreInstallerErrors) {
    SetupLib lib;
    typedef BOOL (*config_dsn_fn)(HWND, WORD, LPCSTR, LPCSTR);
    auto config_dsn = lib.fn<config_dsn_fn>("ConfigDSN");
    std::string empty(2, '\0');
    struct Case {
        WORD request;
        const char *attributes;
        DWORD code;
        const char *message;
    } cases[] = {
        {9, "DSN=Sales\0", ODBC_ERROR_INVALID_REQUEST_TYPE, "Invalid type of request"},
        {ODBC_CONFIG_DSN, nullptr, ODBC_ERROR_INVALID_NAME, "Invalid lpszAttributes"},
        {ODBC_CONFIG_DSN, empty.c_str(), ODBC_ERROR_INVALID_NAME, "Invalid lpszAttributes"},
        {ODBC_REMOVE_DSN, "Server=a\0", ODBC_ERROR_INVALID_NAME, "Invalid DSN specified to ODBC_REMOVE_DSN"},
        {ODBC_ADD_DSN, "Server=a\0", ODBC_ERROR_INVALID_NAME, "Invalid DSN specified"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_FALSE(config_dsn(nullptr, c.request, kDriverName, c.attributes));
        DWORD code = 0;
        EXPECT_EQ(installer_error(&code), c.message);
        EXPECT_EQ(code, c.code);
    }
}

TEST(ConfigDriver, AnswersEveryDriverRequestWithItsMessage) {
    SetupLib lib;
    typedef BOOL (*config_driver_fn)(HWND, WORD, LPCSTR, LPCSTR, LPSTR, WORD, WORD *);
    auto config_driver = lib.fn<config_driver_fn>("ConfigDriver");
    char small[10];
    WORD length = 0;
    EXPECT_TRUE(config_driver(nullptr, ODBC_INSTALL_DRIVER, kDriverName, "", small, sizeof small, &length));
    EXPECT_STREQ(small, "Bye Bye f");
    EXPECT_EQ(length, 35);
    char full[64];
    EXPECT_TRUE(config_driver(nullptr, ODBC_CONFIG_DRIVER, kDriverName, "CPTimeout=60\0", full, sizeof full, nullptr));
    EXPECT_STREQ(full, "Bye Bye from the Quillmark Tarnwell");
    EXPECT_TRUE(config_driver(nullptr, ODBC_REMOVE_DRIVER, kDriverName, "", nullptr, 0, nullptr));
    EXPECT_FALSE(config_driver(nullptr, 9, kDriverName, "", nullptr, 0, nullptr));
    EXPECT_EQ(installer_error(), "Invalid type of request");
}

// What unixODBC's configuration tools build their forms from.
TEST_F(ConfigDsn, PropertiesListTheDriversKeys) {
    HODBCINSTPROPERTY first = nullptr;
    char driver[] = "Quillmark Tarnwell";
    ASSERT_EQ(ODBCINSTConstructProperties(driver, &first), ODBCINST_SUCCESS);
    std::map<std::string, HODBCINSTPROPERTY> by_name;
    for (HODBCINSTPROPERTY p = first; p; p = p->pNext) by_name[p->szName] = p;
    for (const char *name : {"Server", "Port", "User", "Password", "Col_Length", "Logging", "LogFile", "Encrypt",
                             "TrustServerCertificate", "CertificateFile", "Authentication", "AccessToken",
                             "KrbPrinciple", "GSSLIB", "GSSFLAG", "HttpUri"})
        EXPECT_TRUE(by_name.count(name)) << name;
    EXPECT_EQ(by_name["Password"]->nPromptType, ODBCINST_PROMPTTYPE_TEXTEDIT_PASSWORD);
    EXPECT_STREQ(by_name["Port"]->szValue, "10000");
    HODBCINSTPROPERTY auth = by_name["Authentication"];
    ASSERT_EQ(auth->nPromptType, ODBCINST_PROMPTTYPE_LISTBOX);
    std::vector<std::string> methods;
    for (char **item = auth->aPromptData; *item; item++) methods.emplace_back(*item);
    EXPECT_EQ(methods, (std::vector<std::string>{"NONE", "NOSASL", "LDAP", "Kerberos", "AD", "HTTP_BASIC",
                                                 "HTTP_OAUTH"}));
    EXPECT_EQ(ODBCINSTDestructProperties(&first), ODBCINST_SUCCESS);
}
