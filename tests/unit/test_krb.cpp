// The provider-independent parts of the Kerberos logon: principal names,
// the security-layer choice, flag texts and failure SQLSTATEs.
#include <gtest/gtest.h>

#include <string>

#include "spk_krb.h"

namespace {

TEST(KrbNames, ServicePrincipal) {
    struct Case {
        const char *setting, *host, *name;
        SpkKrbNameKind kind;
    } cases[] = {
        {"hive/node1.example.test@EXAMPLE.TEST", "x", "hive/node1.example.test@EXAMPLE.TEST", SPK_KRB_NAME_PRINCIPAL},
        {"hive/_HOST@EXAMPLE.TEST", "Node1.Example.Test", "hive/node1.example.test@EXAMPLE.TEST",
         SPK_KRB_NAME_PRINCIPAL},
        {"hive/_HOST", "localhost", "hive/localhost", SPK_KRB_NAME_PRINCIPAL},
        {"hive@node1", "x", "hive@node1", SPK_KRB_NAME_SERVICE},
        {"hive@_HOST", "NODE2", "hive@node2", SPK_KRB_NAME_SERVICE},
        {"hive", "node3", "hive@node3", SPK_KRB_NAME_SERVICE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting);
        std::string name;
        SpkKrbNameKind kind;
        spk_krb_service_name(c.setting, c.host, &name, &kind);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(kind, c.kind);
    }
}

TEST(KrbNames, UserPrincipal) {
    EXPECT_EQ(spk_krb_user_principal("corp\\alice"), "alice@CORP");
    EXPECT_EQ(spk_krb_user_principal("alice@CORP.EXAMPLE"), "alice@CORP.EXAMPLE");
    EXPECT_EQ(spk_krb_user_principal("alice"), "alice");
}

TEST(KrbLayer, NoSecurityLayerWithTheServersMaximum) {
    struct Case {
        std::string offer;
        int rc;
        std::string reply, reason;
    } cases[] = {
        {std::string("\x01\x01\x00\x00", 4), 0, std::string("\x01\x01\x00\x00", 4), ""},
        {std::string("\x07\x00\xff\xff", 4), 0, std::string("\x01\x00\xff\xff", 4), ""},
        {std::string("\x02\x01\x00\x00", 4), -1, "", "(it offers integrity)"},
        {std::string("\x04\x01\x00\x00", 4), -1, "", "(it offers privacy)"},
        {std::string("\x00\x01\x00\x00", 4), -1, "", "(it offers nothing)"},
        {std::string("\x01\x01\x00", 3), -1, "", "has 3 bytes, not 4"},
        {std::string("\x01\x01\x00\x00\x00", 5), -1, "", "has 5 bytes, not 4"},
    };
    for (const Case &c : cases) {
        std::string reply, reason;
        EXPECT_EQ(spk_krb_choose_layer(c.offer, &reply, &reason), c.rc);
        EXPECT_EQ(reply, c.reply);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
}

TEST(KrbText, FlagsAndStatuses) {
    EXPECT_EQ(spk_gss_flags_text(SPK_GSS_DEFAULT_FLAGS), "GSS_C_MUTUAL_FLAG|GSS_C_REPLAY_FLAG|GSS_C_INTEG_FLAG");
    EXPECT_EQ(spk_gss_flags_text(0x8001), "GSS_C_DELEG_FLAG|GSS_C_DELEG_POLICY_FLAG");
    EXPECT_STREQ(spk_gss_major_text(0x20000), "The target_name parameter is not valid");
    EXPECT_STREQ(spk_gss_major_text(0x120000), "Unknown");

    struct Case {
        uint32_t major;
        uint32_t minor;
        const char *state;
    } cases[] = {
        {0x70000, 0, "28000"},            // no credentials
        {0xB0000, 0, "28000"},            // expired
        {0xD0000, 0x96C73AC3, "28000"},   // no credential cache
        {0xD0000, 0x96C73A18, "28000"},   // preauthentication failed (wrong password)
        {0xD0000, 0x96C73A20, "28000"},   // ticket expired
        {0xD0000, 0x96C73A07, "08001"},   // server not found in the database
        {0xD0000, 0x96C73A9C, "08001"},   // KDC unreachable
        {0x70000, 0x96C73A9C, "08001"},   // no credentials because the KDC is unreachable
    };
    for (const Case &c : cases) EXPECT_STREQ(spk_krb_failure_state(c.major, (int32_t)c.minor), c.state) << c.minor;

    EXPECT_STREQ(spk_krb5_error_name((int32_t)0x96C73A00), "KRB5KDC_ERR_NONE");
    EXPECT_STREQ(spk_krb5_error_name((int32_t)0x96C73A07), "KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN");
    EXPECT_STREQ(spk_krb5_error_name((int32_t)0x96C73AE1), "KRB5_SAM_UNSUPPORTED");
    EXPECT_EQ(spk_krb5_error_name((int32_t)0x96C73A1E), nullptr);   // a placeholder of the table
    EXPECT_EQ(spk_krb5_error_name((int32_t)0x96C73B00), nullptr);
    EXPECT_EQ(spk_krb5_error_name(0), nullptr);
}

}  // namespace
