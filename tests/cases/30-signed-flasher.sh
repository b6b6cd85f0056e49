# A flasher packed, then signed. Under Wine (nothing checks the signature there) it updates the
# drive exactly as an unsigned one. quorel-flash refuses it once a byte of its code is changed
# (its seal still verifies: only the signature tells), and an unsigned one with
# --require-signature, both before any drive is opened; the signed one it updates, naming the
# signer and the anchor.
case_on aspi flash
sim_drive 1 1:0:0 revision=KM01
drives_ready || return 0
signed=$E2E_WORK/pkg/signed.exe
case $FRONT in
  aspi)
    install_flasher "$signed"
    start_quorel -all /S
    expect_unseen 120
    expect_eq "$QUOREL_STATUS" $((3010 % 256)) "exit status (3010 modulo 256)"
    ;;
  flash)
    trust=(--trust "$E2E_WORK/pki/ca.pem")
    before=$(exec_lines 1 | wc -l)
    cp "$signed" "$SCN_DIR/changed.exe"
    # A byte of the code section, which starts at 0x400 in the Windows build's layout.
    flip_byte "$SCN_DIR/changed.exe" $((0x1000))
    expect_eq "$(seal_line "$SCN_DIR/changed.exe")" "sealed, digest verified" "seal of the changed copy"
    run_flash --yes --require-signature "${trust[@]}" "$SCN_DIR/changed.exe"
    expect_eq "$FLASH_STATUS" 2 "exit code for a flasher changed after signing"
    grep -q '^quorel-flash: the flasher was changed after it was signed by .*Quorel Test Signer' \
      "$SCN_DIR/flash.out" || fail "no refusal naming the signer"
    run_flash --yes --require-signature "${trust[@]}" "$E2E_WORK/pkg/unsigned.exe"
    expect_eq "$FLASH_STATUS" 2 "exit code for an unsigned flasher with --require-signature"
    expect_eq "$(exec_lines 1 | tail -n +$((before + 1)) | field cdb | grep -c '^\(3B\|3C\|12\)')" 0 \
      "commands of the refused runs that identify, write or read the buffer"
    run_flash --yes --require-signature "${trust[@]}" "$signed"
    expect_eq "$FLASH_STATUS" 7 "exit code (updated, the restart the package asks for not done)"
    grep -q '^Signature: signed by .*Quorel Test Signer.*trusted: .*Quorel Test Root CA' \
      "$SCN_DIR/flash.out" || fail "the signer and its anchor are not shown"
    ;;
esac
expect_eq "$(count_log '^PROGRAM drive=1 .* revision=KM0P')" 1 "drive programmed"
check_download 1 A0 1240
