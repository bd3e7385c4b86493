// Drives headless Chromium (Debian's /usr/bin/chromium, through
// puppeteer-core) through single sign-on between the example SP server and a
// real SimpleSAMLphp IdP. Started by scripts/e2e, which sets up the servers
// and passes everything through the environment:
//
//   E2E_NODE_DIR     the folder with node_modules/puppeteer-core
//   E2E_SHOTS        where screenshots go
//   E2E_IDP          the IdP's base URL (http://127.0.0.1:PORT)
//   E2E_SP1          SP 1: strict, no unsolicited logins, nothing encrypted
//   E2E_SP2          SP 2: unsolicited logins allowed, assertions encrypted
//   E2E_SP3          SP 3: a second node of SP 2 (same entity, same Redis)
//
// Every check runs in a fresh browser context (no cookies), prints one line,
// and the last line is "e2e: N passed, M failed"; the exit status is 1 when
// anything failed.
'use strict';

const net = require('net');
const path = require('path');
const { createRequire } = require('module');

const env = (name) => {
    const value = process.env[name];
    if (!value) throw new Error(`${name} is not set`);
    return value;
};
const puppeteer = createRequire(path.join(env('E2E_NODE_DIR'), 'package.json'))('puppeteer-core');
const SHOTS = env('E2E_SHOTS');
const IDP = env('E2E_IDP');
const SP1 = env('E2E_SP1');
const SP2 = env('E2E_SP2');
const SP3 = env('E2E_SP3');
const TIMEOUT = 20000;

const USERS = {
    zoe: {
        login: 'zoe', password: 'zoe-e2e-password', nameId: 'zoë.åström',
        shown: ['Zoë Åström', 'zoe.astrom@example.test', 'member', 'student', 'Zoë', 'Åström'],
    },
    bjorn: {
        login: 'bjorn', password: 'bjorn-e2e-password', nameId: 'björn.þórsson',
        shown: ['Björn <b>Þórsson</b> & "Söhne"', 'bjorn@example.test', 'staff'],
    },
};

class CheckFailed extends Error {}
function expect(condition, what) {
    if (!condition) throw new CheckFailed(what);
}

// The SAMLResponse of an application/x-www-form-urlencoded body, as XML.
function responseXmlOf(postData) {
    return Buffer.from(new URLSearchParams(postData).get('SAMLResponse'), 'base64').toString('utf8');
}

// A page that records every form posted to an /acs (its body and the status
// the SP answered) and can change or hold back the next one.
async function newPage(context) {
    const page = await context.newPage();
    page.setDefaultTimeout(TIMEOUT);
    await page.setBypassCSP(true);
    await page.setRequestInterception(true);
    page.posts = [];
    page.acsStatuses = [];
    page.sloAnswers = [];  // {sp, kind: 'request' | 'response', method, status} per /slo
    page.idpLogoutMethods = [];  // the method of each request to the IdP's logout service
    page.onAcsPost = null;  // (request) => handled?
    page.on('request', async (request) => {
        if (new URL(request.url()).pathname.endsWith('/SingleLogoutService.php')) {
            page.idpLogoutMethods.push(request.method());
        }
        if (request.method() === 'POST' && new URL(request.url()).pathname === '/acs') {
            page.posts.push({ url: request.url(), body: request.postData() || '' });
            if (page.onAcsPost && (await page.onAcsPost(request))) return;
        }
        await request.continue();
    });
    page.on('response', (response) => {
        const url = new URL(response.url());
        if (url.pathname === '/slo') {
            const fields = response.request().method() === 'POST'
                ? new URLSearchParams(response.request().postData() || '') : url.searchParams;
            page.sloAnswers.push({
                sp: url.origin, kind: fields.has('SAMLRequest') ? 'request' : 'response',
                method: response.request().method(), status: response.status(),
            });
        }
        if (response.request().method() === 'POST' && new URL(response.url()).pathname === '/acs') {
            page.acsStatuses.push(response.status());
        }
    });
    return page;
}

async function waitForUrl(page, prefix) {
    await page.waitForFunction(
        (p) => location.href.startsWith(p) && document.readyState === 'complete', { timeout: TIMEOUT }, prefix);
}

// Signs in at the IdP's form as user, then waits until the browser is back
// at the SP called sp.
async function signInAtIdp(page, user, sp) {
    await page.waitForSelector('input[name=password]');
    await page.type('input[name=username]', user.login);
    await page.type('input[name=password]', user.password);
    await page.$eval('input[name=password]', (input) => input.form.submit());
    await waitForUrl(page, sp);
}

// What the SP's start page shows: the NameID, the login table and the
// attributes as text, and whether any markup came through from the values.
async function shownLogin(page) {
    return page.evaluate(() => {
        const text = (selector) => (document.querySelector(selector) || { textContent: null }).textContent;
        const attributes = document.querySelector('#attributes');
        return {
            nameId: text('#name-id'),
            login: text('#login'),
            attributes: text('#attributes'),
            markupInValues: attributes ? attributes.querySelectorAll('b, script').length : -1,
        };
    });
}

function expectSignedIn(shown, user, encrypted, solicited) {
    expect(shown.nameId === user.nameId, `NameID shown is ${JSON.stringify(shown.nameId)}, not ${user.nameId}`);
    for (const value of user.shown) {
        expect(shown.attributes && shown.attributes.includes(value), `attribute value ${JSON.stringify(value)} shown`);
    }
    expect(shown.markupInValues === 0, 'no markup from attribute values reached the page');
    expect(shown.login.includes(`Assertion encrypted${encrypted ? 'yes' : 'no'}`),
        `the page says the assertion was ${encrypted ? '' : 'not '}encrypted`);
    expect(shown.login.includes('(none: IdP-initiated)') !== solicited,
        solicited ? 'the login answers a request' : 'the login is IdP-initiated');
}

// Signs user in at sp by HTTP-Redirect; when the IdP still knows the
// browser, no password is asked and the browser comes straight back.
async function signIn(page, sp, user, passwordAsked = true) {
    await page.goto(`${sp}/login`);
    if (passwordAsked) await signInAtIdp(page, user, sp);
    else await waitForUrl(page, `${sp}/`);
    const shown = await shownLogin(page);
    expect(shown.nameId === user.nameId, `signed in at ${sp} as ${user.nameId}, not ${shown.nameId}`);
}

// True when sp's start page offers sign-in links (no session).
async function signedOutAt(page, sp) {
    await page.goto(`${sp}/`);
    return page.evaluate(() => !!document.querySelector('#login-redirect') && !document.querySelector('#name-id'));
}

// Presses one of the start page's sign-out buttons and waits for the page
// the SP shows once the IdP answered; returns its outcome line.
async function signOut(page, sp, button) {
    await page.click(button);
    await page.waitForFunction((prefix) => location.href.startsWith(prefix) && document.readyState === 'complete' &&
        !!document.querySelector('#logout-outcome, #error'), { timeout: TIMEOUT }, `${sp}/slo`);
    return page.evaluate(() => {
        const outcome = document.querySelector('#logout-outcome') || document.querySelector('#error');
        return outcome.textContent;
    });
}

// Signs user in at sp, presses the sign-out button, and checks the whole
// round trip: the LogoutRequest went by method, the IdP's LogoutResponse was
// accepted, sp shows the sign-in links again, and the IdP's session is over
// too (signing in asks for the password).
async function spInitiatedLogout(page, sp, user, button, method, shot) {
    await signIn(page, sp, user);
    const outcome = await signOut(page, sp, button);
    expect(outcome === 'Signed out here and at the IdP.', `the outcome is ${JSON.stringify(outcome)}`);
    expect(page.idpLogoutMethods[0] === method, `the LogoutRequest went by ${page.idpLogoutMethods[0]}`);
    const answer = page.sloAnswers.find((a) => a.kind === 'response');
    expect(answer && answer.status === 200, `the IdP's LogoutResponse was answered ${answer && answer.status}`);
    await page.screenshot({ path: path.join(SHOTS, shot), fullPage: true });
    expect(await signedOutAt(page, sp), `${sp} shows the sign-in links again`);
    await page.goto(`${sp}/login`);
    await page.waitForSelector('input[name=password]');
}

// The error page's text and the status the SP answered the last /acs with.
async function refusal(page) {
    const error = await page.evaluate(() => {
        const p = document.querySelector('#error');
        return { title: document.title, text: p ? p.textContent : null };
    });
    return { ...error, status: page.acsStatuses[page.acsStatuses.length - 1] };
}

// Posts body (a captured form) to the /acs of sp from one of sp's own pages,
// so the browser's cookies for sp go along, and waits for the answer.
async function postCaptured(page, sp, body) {
    if (!page.url().startsWith(sp)) await page.goto(`${sp}/`);
    const samlResponse = new URLSearchParams(body).get('SAMLResponse');
    await Promise.all([
        page.waitForNavigation({ waitUntil: 'load' }),
        page.evaluate((action, value) => {
            const form = document.createElement('form');
            form.method = 'POST';
            form.action = action;
            const input = document.createElement('input');
            input.type = 'hidden';
            input.name = 'SAMLResponse';
            input.value = value;
            form.appendChild(input);
            document.body.appendChild(form);
            form.submit();
        }, `${sp}/acs`, samlResponse),
    ]);
}

// Sends raw bytes to server (a base URL) and resolves with the status code
// of the answer's first line (0 when the connection closed without one).
function rawStatus(server, bytes) {
    const { hostname, port } = new URL(server);
    return new Promise((resolve, reject) => {
        const socket = net.connect(Number(port), hostname);
        let answer = '';
        socket.setTimeout(TIMEOUT, () => socket.destroy(new Error('no answer')));
        socket.on('connect', () => socket.end(bytes));
        socket.on('data', (chunk) => { answer += chunk.toString('latin1'); });
        socket.on('error', (error) => (error.code === 'EPIPE' || error.code === 'ECONNRESET' ? null : reject(error)));
        socket.on('close', () => {
            const match = /^HTTP\/1\.1 (\d{3}) /.exec(answer);
            resolve(match ? Number(match[1]) : 0);
        });
    });
}

const idpInitiatedUrl = (sp) =>
    `${IDP}/saml2/idp/SSOService.php?spentityid=${encodeURIComponent(`${sp}/metadata`)}`;

// ---- The checks -----------------------------------------------------------------

const shared = {};

const checks = [
    ['SP-initiated login by HTTP-Redirect shows the user and attributes', async (page) => {
        await page.goto(`${SP1}/`);
        await Promise.all([page.waitForNavigation(), page.click('#login-redirect')]);
        expect(page.url().startsWith(IDP), 'the browser went to the IdP');
        await signInAtIdp(page, USERS.zoe, SP1);
        expect(page.acsStatuses[0] === 303, `the ACS answered 303, not ${page.acsStatuses[0]}`);
        expectSignedIn(await shownLogin(page), USERS.zoe, false, true);
        await page.screenshot({ path: path.join(SHOTS, 'login-redirect.png'), fullPage: true });
    }],
    ['SP-initiated login by HTTP-POST shows the user, attribute markup as text', async (page) => {
        await page.goto(`${SP1}/`);
        await Promise.all([page.waitForNavigation(), page.click('#login-post')]);
        await page.waitForFunction((idp) => location.href.startsWith(idp), {}, IDP);
        await signInAtIdp(page, USERS.bjorn, SP1);
        expect(page.acsStatuses[0] === 303, `the ACS answered 303, not ${page.acsStatuses[0]}`);
        expectSignedIn(await shownLogin(page), USERS.bjorn, false, true);
        await page.screenshot({ path: path.join(SHOTS, 'login-post.png'), fullPage: true });
        shared.acceptedPost = page.posts[0].body;
    }],
    ['the captured POST replayed from another browser is refused, with or without its own sign-in', async (page) => {
        expect(shared.acceptedPost, 'a captured POST from the previous check');
        await postCaptured(page, SP1, shared.acceptedPost);
        let answer = await refusal(page);
        expect(answer.status === 400, `without a sign-in the ACS answered 400, not ${answer.status}`);
        expect(answer.title === 'Login refused', `the page is "Login refused", not ${answer.title}`);
        expect(answer.text.startsWith('No sign-in was started in this browser'), `reason: ${answer.text}`);
        await page.screenshot({ path: path.join(SHOTS, 'replay-refused.png'), fullPage: true });
        // This browser starts a sign-in of its own: the captured answer is not its answer.
        await page.goto(`${SP1}/login`);
        expect(page.url().startsWith(IDP), 'the browser went to the IdP');
        await postCaptured(page, SP1, shared.acceptedPost);
        answer = await refusal(page);
        expect(answer.status === 403, `with a sign-in the ACS answered 403, not ${answer.status}`);
        expect(answer.text.startsWith('authentic, but refused by the profile: ') && answer.text.includes('SAML response answers request'), `reason: ${answer.text}`);
    }],
    ['a response tampered in the browser is refused with the error page', async (page) => {
        page.onAcsPost = async (request) => {
            const form = new URLSearchParams(request.postData());
            const xml = responseXmlOf(request.postData());
            expect(xml.includes('>student<'), 'the response carries the attribute value to change');
            form.set('SAMLResponse', Buffer.from(xml.replace('>student<', '>teacher<'), 'utf8').toString('base64'));
            await request.continue({ postData: form.toString() });
            return true;
        };
        await page.goto(`${SP1}/login`);
        await signInAtIdp(page, USERS.zoe, SP1);
        const answer = await refusal(page);
        expect(answer.status === 403, `the ACS answered 403, not ${answer.status}`);
        expect(answer.title === 'Login refused', `the page is "Login refused", not ${answer.title}`);
        expect(answer.text.startsWith('not authentic: '), `reason: ${answer.text}`);
        await page.screenshot({ path: path.join(SHOTS, 'tampered-refused.png'), fullPage: true });
    }],
    ['an encrypted login (SP 2) decrypts and shows the user', async (page) => {
        await page.goto(`${SP2}/login`);
        await signInAtIdp(page, USERS.zoe, SP2);
        expect(responseXmlOf(page.posts[0].body).includes('EncryptedAssertion'), 'the IdP sent an EncryptedAssertion');
        expect(page.acsStatuses[0] === 303, `the ACS answered 303, not ${page.acsStatuses[0]}`);
        expectSignedIn(await shownLogin(page), USERS.zoe, true, true);
        await page.screenshot({ path: path.join(SHOTS, 'login-encrypted.png'), fullPage: true });
    }],
    ['an IdP-initiated login is refused by SP 1, which allows none', async (page) => {
        await page.goto(idpInitiatedUrl(SP1));
        await signInAtIdp(page, USERS.zoe, SP1);
        const answer = await refusal(page);
        expect(answer.status === 400, `the ACS answered 400, not ${answer.status}`);
        expect(answer.text.startsWith('No sign-in was started in this browser'), `reason: ${answer.text}`);
        await page.screenshot({ path: path.join(SHOTS, 'idp-initiated-refused.png'), fullPage: true });
    }],
    ['an IdP-initiated login is accepted by SP 2, which allows them; replayed, refused', async (page) => {
        await page.goto(idpInitiatedUrl(SP2));
        await signInAtIdp(page, USERS.zoe, SP2);
        expect(page.acsStatuses[0] === 303, `the ACS answered 303, not ${page.acsStatuses[0]}`);
        expectSignedIn(await shownLogin(page), USERS.zoe, true, false);
        await page.screenshot({ path: path.join(SHOTS, 'idp-initiated-accepted.png'), fullPage: true });
        shared.acceptedBySp2 = page.posts[0].body;
        await postCaptured(page, SP2, shared.acceptedBySp2);
        const answer = await refusal(page);
        expect(answer.status === 403, `the replay was answered 403, not ${answer.status}`);
        expect(answer.text.includes('was accepted before: a replay is refused'), `reason: ${answer.text}`);
        await page.screenshot({ path: path.join(SHOTS, 'replay-cache-refused.png'), fullPage: true });
    }],
    ['a response accepted by SP 2 is refused by SP 3 (shared Redis)', async (page) => {
        expect(shared.acceptedBySp2, 'a response accepted by SP 2 in the previous check');
        await postCaptured(page, SP3, shared.acceptedBySp2);
        const answer = await refusal(page);
        expect(answer.status === 403, `SP 3 answered 403, not ${answer.status}`);
        expect(answer.text.includes('was accepted before: a replay is refused'), `reason: ${answer.text}`);
        await page.screenshot({ path: path.join(SHOTS, 'shared-redis-refused.png'), fullPage: true });
    }],
    ['a response accepted by SP 3 first is refused by SP 2 (shared Redis)', async (page) => {
        // The IdP's post to SP 2 is held back in the browser and taken to SP 3.
        page.onAcsPost = async (request) => {
            await request.respond({ status: 200, contentType: 'text/plain', body: 'held back' });
            return true;
        };
        await page.goto(idpInitiatedUrl(SP2));
        await page.waitForSelector('input[name=password]');
        await page.type('input[name=username]', USERS.bjorn.login);
        await page.type('input[name=password]', USERS.bjorn.password);
        await page.$eval('input[name=password]', (input) => input.form.submit());
        await page.waitForFunction(() => document.body && document.body.textContent === 'held back');
        const held = page.posts[0].body;
        page.onAcsPost = null;
        page.acsStatuses = [];
        await postCaptured(page, SP3, held);
        expect(page.acsStatuses[0] === 303, `SP 3 answered 303, not ${page.acsStatuses[0]}`);
        expectSignedIn(await shownLogin(page), USERS.bjorn, true, false);
        await postCaptured(page, SP2, held);
        const answer = await refusal(page);
        expect(answer.status === 403, `SP 2 answered 403, not ${answer.status}`);
        expect(answer.text.includes('was accepted before: a replay is refused'), `reason: ${answer.text}`);
    }],
    ['SP-initiated logout by HTTP-Redirect (SP 1) ends the session here and at the IdP', async (page) =>
        spInitiatedLogout(page, SP1, USERS.zoe, '#logout-redirect', 'GET', 'logout-sp-initiated-redirect.png')],
    ['SP-initiated logout by HTTP-POST (SP 2) ends the session here and at the IdP', async (page) =>
        spInitiatedLogout(page, SP2, USERS.bjorn, '#logout-post', 'POST', 'logout-sp-initiated-post.png')],
    ['IdP-initiated logout ends the sessions at SP 1 and SP 2, each answering signed', async (page) => {
        await signIn(page, SP1, USERS.zoe);
        await signIn(page, SP2, USERS.zoe, false);
        const returnTo = `${SP1}/`;
        await page.goto(`${IDP}/saml2/idp/SingleLogoutService.php?ReturnTo=${encodeURIComponent(returnTo)}`);
        await page.waitForFunction((url) => location.href === url && document.readyState === 'complete',
            { timeout: TIMEOUT }, returnTo);
        const requests = page.sloAnswers.filter((a) => a.kind === 'request');
        expect(requests.length === 2, `the IdP sent ${requests.length} LogoutRequests, not 2`);
        for (const sp of [SP1, SP2]) {
            const answered = requests.find((a) => a.sp === sp);
            expect(answered && answered.status === 302, `${sp} answered the IdP's LogoutRequest with 302, not ${answered && answered.status}`);
        }
        await page.screenshot({ path: path.join(SHOTS, 'logout-idp-initiated.png'), fullPage: true });
        expect(await signedOutAt(page, SP1), 'SP 1 shows the sign-in links again');
        expect(await signedOutAt(page, SP2), 'SP 2 shows the sign-in links again');
        await page.goto(`${SP1}/login`);
        await page.waitForSelector('input[name=password]');
    }],
    ['bad requests get their 4xx status and the server keeps serving', async (page) => {
        const cases = [
            ['not HTTP', 'GARBAGE\r\n\r\n', 400],
            // Refused from its announced length, before any of it is read.
            ['a body over 1 MiB', 'POST /acs HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n' +
                `Content-Length: ${2 * 1024 * 1024}\r\n\r\nSAMLResponse=`, 413],
            ['a header over 16 KiB', `GET / HTTP/1.1\r\nHost: x\r\nCookie: ${'c'.repeat(20000)}\r\n\r\n`, 431],
            ['a POST to /acs without a form', 'POST /acs HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello', 415],
            ['a GET of /acs', 'GET /acs HTTP/1.1\r\nHost: x\r\n\r\n', 405],
            ['an unknown path', 'GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n', 404],
            ['a bad binding', 'GET /login?binding=%zz HTTP/1.1\r\nHost: x\r\n\r\n', 400],
            ['an unsigned LogoutRequest', 'GET /slo?SAMLRequest=s0nNyckHAA%3D%3D&RelayState=x HTTP/1.1\r\nHost: x\r\n\r\n', 403],
            ['a logout response without a sign-out under way', 'GET /slo?SAMLResponse=x HTTP/1.1\r\nHost: x\r\n\r\n', 400],
            ['a GET of /logout', 'GET /logout HTTP/1.1\r\nHost: x\r\n\r\n', 405],
        ];
        for (const [what, bytes, expected] of cases) {
            const status = await rawStatus(SP1, bytes);
            expect(status === expected, `${what}: ${status}, not ${expected}`);
        }
        const start = await page.goto(`${SP1}/`);
        expect(start.status() === 200, 'the start page still answers');
    }],
];

(async () => {
    const browser = await puppeteer.launch({
        executablePath: '/usr/bin/chromium',
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
    });
    let passed = 0;
    let failed = 0;
    try {
        for (const [name, check] of checks) {
            const started = Date.now();
            const context = await browser.createBrowserContext();
            const page = await newPage(context);
            try {
                await check(page);
                passed += 1;
                console.log(`ok    ${((Date.now() - started) / 1000).toFixed(1)} s  ${name}`);
            } catch (error) {
                failed += 1;
                console.log(`FAIL  ${((Date.now() - started) / 1000).toFixed(1)} s  ${name}: ${error.message}`);
                const shot = path.join(SHOTS, `failed-${passed + failed}.png`);
                await page.screenshot({ path: shot, fullPage: true }).catch(() => {});
                console.log(`      at ${page.url()} (screenshot ${shot})`);
            }
            await context.close();
        }
    } finally {
        await browser.close();
    }
    console.log(`e2e: ${passed} passed, ${failed} failed`);
    process.exit(failed === 0 ? 0 : 1);
})().catch((error) => {
    console.log(`e2e: browser driver failed: ${error.stack}`);
    console.log('e2e: 0 passed, 1 failed');
    process.exit(1);
});
