// Mozilla User Preferences
user_pref("mail.account.account1.server", "server1");
user_pref("mail.account.account2.server", "server2");
user_pref("mail.accountmanager.accounts", "account1,account2");
user_pref("mail.accountmanager.defaultaccount", "account2");
user_pref("mail.server.server1.directory-rel", "[ProfD]Mail/Local Folders");
user_pref("mail.server.server1.name", "Local Folders");
user_pref("mail.server.server1.type", "none");
user_pref("mail.server.server2.directory", "/tmp/x/ImapMail/imap.example.com");
user_pref("mail.server.server2.hostname", "imap.example.com");
user_pref("mail.server.server2.name", "Jane \"\u00FC\" \ud83d\ude00");
user_pref("mail.server.server2.type", "imap");
user_pref("mail.server.server3.hidden", true);
/* a comment */ pref("x", -1, locked);
