// The binding key ties a package to its stub whatever a signing tool does to
// the stub's PE header, and whatever the relaunch does to the copy it makes:
// the image checksum and the certificate-table entry are read as zero, every
// other byte counts.
#include <gtest/gtest.h>

#include <cstring>

#include "package/binding.h"
#include "package/format.h"
#include "support.h"

namespace {

using pkg::Bytes;

void put32(Bytes& b, uint32_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

// A stub with a PE header at 0x80 of the given optional-header magic.
Bytes peStub(uint16_t magic) {
    Bytes stub = testsupport::fakeStub();
    stub[0] = 'M';
    stub[1] = 'Z';
    put32(stub, PE_OFFSET_FIELD, 0x80);
    std::memcpy(stub.data() + 0x80, "PE\0\0", 4);
    stub[0x80 + 24] = static_cast<uint8_t>(magic);
    stub[0x80 + 25] = static_cast<uint8_t>(magic >> 8);
    return stub;
}

TEST(Binding, TheCertificateEntrySitsWhereEachPeKindPutsIt) {
    EXPECT_EQ(certificateEntryOffset(peStub(PE_MAGIC_PE32).data(), STUB_SIZE), 0x80 + PE_SECURITY_DIR_PE32);
    EXPECT_EQ(certificateEntryOffset(peStub(PE_MAGIC_PE32PLUS).data(), STUB_SIZE),
              0x80 + PE_SECURITY_DIR_PE32PLUS);

    Bytes noMagic = peStub(0x107);
    EXPECT_EQ(certificateEntryOffset(noMagic.data(), STUB_SIZE), 0u);
    Bytes farHeader = peStub(PE_MAGIC_PE32);
    put32(farHeader, PE_OFFSET_FIELD, STUB_SIZE - 16);  // the directory would lie past the stub
    EXPECT_EQ(certificateEntryOffset(farHeader.data(), STUB_SIZE), 0u);
    Bytes unaligned = peStub(PE_MAGIC_PE32);
    put32(unaligned, PE_OFFSET_FIELD, 0x82);
    EXPECT_EQ(certificateEntryOffset(unaligned.data(), STUB_SIZE), 0u);
    EXPECT_EQ(certificateEntryOffset(testsupport::fakeStub().data(), STUB_SIZE), 0u) << "no MZ";
}

TEST(Binding, SigningFieldsDoNotMoveTheKeyAndEveryOtherByteDoes) {
    for (uint16_t magic : {PE_MAGIC_PE32, PE_MAGIC_PE32PLUS}) {
        Bytes stub = peStub(magic);
        uint32_t entry = certificateEntryOffset(stub.data(), STUB_SIZE);
        StubBinding plain = computeBinding(stub.data(), STUB_SIZE);
        EXPECT_EQ(plain.certificateOffset, 0u);

        // What a signing tool writes, then what the relaunch copy undoes.
        Bytes signedStub = stub;
        put32(signedStub, 0x80 + PE_CHECKSUM_OFFSET, 0x1234567);
        put32(signedStub, entry, 0x20000);
        put32(signedStub, entry + 4, 0x1A08);
        StubBinding sig = computeBinding(signedStub.data(), STUB_SIZE);
        EXPECT_EQ(sig.key, plain.key);
        EXPECT_EQ(sig.certificateOffset, 0x20000u);
        EXPECT_EQ(sig.certificateSize, 0x1A08u);
        Bytes copy = signedStub;
        std::memset(copy.data() + entry, 0, 8);
        EXPECT_EQ(computeBinding(copy.data(), STUB_SIZE).key, plain.key);

        for (uint32_t at : {0x80u + PE_CHECKSUM_OFFSET - 4, entry - 4, entry + 8, 0x400u}) {
            Bytes changed = stub;
            changed[at] ^= 1;
            EXPECT_NE(computeBinding(changed.data(), STUB_SIZE).key, plain.key) << "byte " << at;
        }
    }
}

}  // namespace
